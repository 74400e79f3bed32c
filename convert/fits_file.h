// FITS files of one image each, written by cfitsio: 8-bit grey (two axes)
// when the image's three channels are equal, else three 8-bit planes R, G, B.
// Rows are stored bottom row first, as FITS readers expect.
#pragma once

#include <fitsio.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "avi_source.h"
#include "imagelog/log_format.h"

namespace noctil::convert {

struct FitsKeyword {
    enum class Kind { Text, Integer, Fixed, Comment } kind;
    std::string name;
    std::string text;       // Text and Comment
    long long integer = 0;  // Integer
    double number = 0;      // Fixed, written with `decimals` decimals
    int decimals = 0;
    std::string comment;
};

// The keywords of image `image` beyond those cfitsio writes itself (the
// axes, and DATE for the time the file was written). The times come from
// the image's log line, where it has one.
std::vector<FitsKeyword> fitsKeywords(std::uint32_t image, const std::optional<plat::imagelog::LogLine> &line);

// Where the first row of the planes lies: at the bottom of the image, as a
// Picture and FITS keep it, or at the top, as INDI's cameras send it.
enum class RowOrder { AsPicture, TopDown };

// The picture's samples as a FITS image holds them: one plane of grey (the
// first channel), or three planes R, G, B one after the other.
std::vector<std::uint8_t> imagePlanes(const Picture &picture, bool grey, RowOrder order);

// Writes `keywords` into the current header of `file`; a keyword already
// there is replaced (comments are added). False when cfitsio failed, with
// its `status`.
bool writeKeywords(fitsfile *file, std::span<const FitsKeyword> keywords, int &status);

// Writes `picture` to `path`, which must not exist; false with `error` set
// (and no file left behind) on failure.
bool writeFits(const std::filesystem::path &path, const Picture &picture, bool grey,
               const std::vector<FitsKeyword> &keywords, std::string &error);

}  // namespace noctil::convert
