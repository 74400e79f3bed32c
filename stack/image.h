// An image as the program holds it (a 24-bit DIB's rows, bottom row first)
// with what the camera's lines did for it, and the format a dark must share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace noctil::stack {

// Field mode assembles a 480- or 576-line image from two readout passes
// (odd rows from one, even rows from the other); whole-frame mode keeps one
// frame. A dark taken one way does not fit an image taken the other.
enum class FieldMode : std::uint8_t { WholeFrame, Fields };

// The readout the program uses for a capture height.
FieldMode fieldModeForHeight(std::uint32_t height);

struct FrameFormat {
    std::uint32_t width = 0, height = 0;
    // 1: grey (the DIB's three channels are equal), 3: colour; 0 in an
    // ImageIn: the stacker decides (grey unless a colour stack of its size runs).
    int channels = 3;
    FieldMode fieldMode = FieldMode::WholeFrame;
    bool operator==(const FrameFormat &) const = default;
};

// "720x576 colour, field mode", as the user reads it; the second form
// writes into `out` without allocating.
std::string describe(const FrameFormat &format);
void describe(const FrameFormat &format, char *out, std::size_t size);

struct ImageIn {
    FrameFormat format;
    std::span<const std::uint8_t> rows;            // B,G,R per pixel, rows padded to 4 bytes, bottom row first
    double exposureS = 0;                          // measured at the port; 0 when unknown
    double ampOffS = 0;                            // the part of it with the amplifier off
    std::optional<std::int64_t> startUtc, endUtc;  // microseconds since 1970, UTC
    std::uint32_t number = 0;                      // the image's number in its file, from 1
};

// Bytes of one DIB row of `width` 24-bit pixels.
constexpr std::size_t dibRowBytes(std::uint32_t width) { return (std::size_t(width) * 3 + 3) & ~std::size_t(3); }

// The image's values as float planes (R, G, B for colour; one for grey),
// each row by row from the bottom; `out` holds channels x width x height.
// False when the rows are shorter than the format says.
bool toPlanes(const ImageIn &image, std::span<float> out);

// True when every pixel of the rows has three equal channels.
bool rowsAreGrey(std::span<const std::uint8_t> rows, std::uint32_t width, std::uint32_t height);

}  // namespace noctil::stack
