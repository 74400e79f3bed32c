// Planar YUV frames of a capture device repacked as packed 4:2:2 (YUY2:
// Y0 U Y1 V), the layout the AVI library decodes. Nothing is interpolated:
// 4:2:2 chroma is copied as it is, 4:2:0 chroma rows are each used for the
// two picture rows they cover, so the conversion loses nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace plat::frameconv {

enum class PlanarLayout {
    Yu12,     // Y plane, then Cb and Cr planes at half width and half height
    Yv12,     // the same with Cr before Cb
    Nv12,     // Y plane, then one plane of Cb,Cr pairs at half height
    Nv21,     // the same with Cr,Cb pairs
    Yuv422p,  // Y plane, then Cb and Cr planes at half width, full height
};

// One device buffer of a planar format: `width` x `height` pixels, each luma
// row `bytesPerLine` bytes (rows may be padded). The chroma planes follow
// the luma plane with rows of half that length, rounded up (Cb,Cr pair
// planes: the luma's row length), and half as many rows for 4:2:0, rounded
// up, as V4L2 lays them out in one buffer.
struct PlanarFrame {
    PlanarLayout layout = PlanarLayout::Yu12;
    std::uint32_t width = 0, height = 0;
    std::uint32_t bytesPerLine = 0;
};

// Bytes a buffer of `frame` holds at least; none when the sizes make no sense
// (a row shorter than the width).
std::optional<std::uint64_t> planarBytes(const PlanarFrame &frame);

// Bytes of one YUY2 row `width` pixels wide: two pixels in four bytes.
constexpr std::uint64_t yuy2Stride(std::uint32_t width) { return (std::uint64_t(width) + 1) / 2 * 4; }

// Writes the frame's rows as YUY2: picture row r goes to row
// `firstRow` + r x `rowStep` of `out`, rows `outStride` bytes apart. An odd
// width repeats the last pixel's luma in the last pair's second place.
// False, with `out` untouched, when `source` is shorter than planarBytes()
// or `out` cannot hold the rows.
bool planarToYuy2(const PlanarFrame &frame, std::span<const std::uint8_t> source, std::span<std::uint8_t> out,
                  std::uint64_t outStride, std::uint32_t firstRow = 0, std::uint32_t rowStep = 1);

}  // namespace plat::frameconv
