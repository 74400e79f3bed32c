// Decoding of one uncompressed video frame to the library's default image: a
// packed 24-bit bottom-up device-independent bitmap (BITMAPINFOHEADER then
// rows of B,G,R padded to 4 bytes) at the stream's size.
//
// Known source formats: BI_RGB with 8 bits (colour table, or grey when the
// format carries none), 24 and 32 bits, rows padded to 4 bytes and bottom-up
// unless biHeight is negative; packed YUV 4:2:2 (YUY2/YUYV, UYVY) with
// limited-range BT.601 colours; and 8-bit grey (Y800, Y8, GREY). The YUV and
// grey formats are top-down with unpadded rows whatever the sign of biHeight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace plat::avi {

// The facts of a source format that decoding needs, or none.
struct SourceLayout {
    enum class Kind { Palette8, Bgr24, Bgrx32, Yuyv, Uyvy, Grey } kind;
    std::uint32_t width = 0, height = 0;
    bool bottomUp = false;
    std::uint64_t stride = 0;      // bytes per source row
    std::uint64_t frameBytes = 0;  // bytes a frame needs at least
};

// Reads a format (BITMAPINFOHEADER + colour table); false when it is not one
// the decoder knows or its size is out of range.
bool sourceLayout(std::span<const std::uint8_t> format, SourceLayout &layout);

// Bytes per row of a 24-bit DIB `width` pixels wide.
std::uint64_t dib24Stride(std::uint32_t width);

// The BITMAPINFOHEADER at the start of a packed 24-bit DIB.
inline constexpr std::size_t kDib24HeaderBytes = 40;
void putDib24Header(std::uint8_t *out, std::uint32_t width, std::uint32_t height);

// Decodes `frame` (in `format`) into `dib`, reusing its storage. False, with
// `dib` unspecified, when the format is unknown or the frame is too short.
bool decodeToDib24(std::span<const std::uint8_t> format, std::span<const std::uint8_t> frame,
                   std::vector<std::uint8_t> &dib);

}  // namespace plat::avi
