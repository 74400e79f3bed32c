// A PNG file of 24-bit DIB rows, for the stretched view of the stack: 8-bit
// RGB, no filter, the image data in stored (uncompressed) deflate blocks. A
// view is written once a run, so size matters less than needing no
// compression library on either build.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace noctil::stack {

// The whole file of a `width` x `height` image given as DIB rows (B, G, R,
// rows padded to 4 bytes, bottom row first). Empty when `rows` is shorter
// than that.
std::vector<std::uint8_t> pngBytes(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rows);

}  // namespace noctil::stack
