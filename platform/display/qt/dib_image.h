// Device-independent bitmaps as Qt images: what SetDIBitsToDevice put on a
// window, and the toolbar's image strip.
#pragma once

#include <QImage>

#include <cstdint>
#include <span>

#include "user/window_system.h"

namespace plat::qt {

// The rows of a DIB as a top-down RGB image. `info` is the BITMAPINFOHEADER
// with its colour table; `bits` holds `rows` rows as the DIB stores them
// (bottom-up when biHeight is positive). Uncompressed 1, 4, 8, 16 (5-5-5),
// 24 and 32 bits per pixel; anything else, or too few bytes, gives a null
// image.
QImage dibToImage(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits, int rows);

// The bytes of a packed DIB's header and colour table: where its rows start.
// 0 when the header is cut short.
std::size_t dibHeaderBytes(std::span<const std::uint8_t> packed);

// A packed DIB (header, colour table, rows) as an image: its first `rows`
// rows (all of them when 0), as dibToImage shows them.
QImage packedDibToImage(std::span<const std::uint8_t> packed, int rows = 0);

// Draws what SetDIBitsToDevice was given onto `canvas` (the window's client
// area), clipped to it. Whatever the image does not cover stays as it was,
// as on a screen that is not erased between paints.
void drawSurface(QImage &canvas, const user::PaintSurface &surface);

}  // namespace plat::qt
