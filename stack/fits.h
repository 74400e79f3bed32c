// FITS files of our own: one primary image of 8-bit or 32-bit float values,
// header cards as the standard lays them out, and the standard's DATASUM and
// CHECKSUM so that a damaged or hand-edited file is recognised. Written and
// read with the C++ library alone, so every build (Windows too) has it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace noctil::fits {

struct Card {
    enum class Kind { Text, Integer, Fixed, Logical, Comment, History } kind;
    std::string name;
    std::string text;       // Text, Comment, History
    long long integer = 0;  // Integer; Logical: 0 or 1
    double number = 0;      // Fixed, written with `decimals` decimals
    int decimals = 0;
    std::string comment;
};

Card text(std::string name, std::string value, std::string comment = {});
Card integer(std::string name, long long value, std::string comment = {});
Card fixed(std::string name, double value, int decimals, std::string comment = {});
Card logical(std::string name, bool value, std::string comment = {});
Card comment(std::string text);
Card history(std::string text);

// One 80-character card; text outside printable ASCII becomes '?', and
// what does not fit is cut.
std::string formatCard(const Card &card);

// The image's axes: width, height and, for colour, 3 planes.
struct Axes {
    std::uint32_t width = 0, height = 0, planes = 1;
    std::size_t values() const { return std::size_t(width) * height * planes; }
};

// A whole file in memory: the header (with `cards` after the axes), the
// data big-endian, both padded to 2880-byte blocks, the checksums last.
// `values` are the planes one after the other, each row by row from the
// first row FITS readers show at the bottom.
std::vector<std::uint8_t> fileBytes(const Axes &axes, std::span<const float> values, const std::vector<Card> &cards);
std::vector<std::uint8_t> fileBytes(const Axes &axes, std::span<const std::uint8_t> values,
                                    const std::vector<Card> &cards);

// Writes `bytes` to `path`, which must not exist; false with `error` set,
// and nothing left behind, when it cannot.
bool writeNewFile(const std::filesystem::path &path, std::span<const std::uint8_t> bytes, std::string &error);

// 'YYYY-MM-DDThh:mm:ss.ssssss' for UTC microseconds since 1970.
std::string utcText(std::int64_t utcMicros);

// A file read back: 32-bit float images of our own writing only.
struct FloatImage {
    Axes axes;
    std::vector<float> values;
    std::vector<Card> cards;  // every keyword card with a value, as text, integer or fixed

    const Card *find(std::string_view name) const;
};

// Reads a file written by fileBytes() with float values; nullopt with
// `error` saying what is wrong: not FITS, damaged (the checksum does not
// hold), a header we do not write, axes out of range, a short file.
std::optional<FloatImage> readFloatImage(std::span<const std::uint8_t> bytes, std::string &error);

}  // namespace noctil::fits
