// A recorded output file through the live stack's library: the same stack
// the program's window builds from the same images, written as
// NAME.stack.fits, with each image's fate said on the way.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "avi_source.h"
#include "stack/image.h"
#include "log_match.h"

namespace noctil::convert {

// `picture` as the program holds an image: 24-bit rows of B,G,R, padded to
// 4 bytes, bottom row first (into `rows`, which is reused).
void dibRowsOf(const Picture &picture, std::vector<std::uint8_t> &rows);

struct RestackInput {
    std::optional<std::filesystem::path> darks, flats;  // library folders
    std::int64_t writtenUtc = 0;                        // DATE of the file
};

// Stacks every image of `source` with its log line's exposure and writes the
// stack to `target`; false with `error` set when nothing could be written.
// Each image's fate goes to `out`; refused masters and notices to `err`.
bool restack(const AviSource &source, const LogMatch &log, const RestackInput &input,
             const std::filesystem::path &target, std::ostream &out, std::ostream &err, std::string &error);

}  // namespace noctil::convert
