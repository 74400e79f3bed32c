#include "display/qt/dib_image.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace plat::qt {

namespace {

std::size_t paletteEntries(const BITMAPINFOHEADER &h) {
    if (h.biBitCount > 8) return 0;
    return h.biClrUsed ? h.biClrUsed : (std::size_t{1} << h.biBitCount);
}

QRgb fromQuad(const std::uint8_t *quad) { return qRgb(quad[2], quad[1], quad[0]); }

using Palette = std::array<QRgb, 256>;

// What a DIB's rows need to be read: its header, the bytes of one row and
// its colour table (black where the table has no entry).
struct DibLayout {
    BITMAPINFOHEADER header;
    std::size_t stride = 0;
    Palette palette;
};

// False for what cannot be shown: compressed rows, an unknown depth, or a
// colour table shorter than the header says.
bool readLayout(std::span<const std::uint8_t> info, DibLayout &d) {
    if (info.size() < sizeof(BITMAPINFOHEADER)) return false;
    BITMAPINFOHEADER &h = d.header;
    std::memcpy(&h, info.data(), sizeof h);
    const int bpp = h.biBitCount;
    if (h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0) return false;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    d.stride = ((static_cast<std::size_t>(h.biWidth) * bpp + 31) / 32) * 4;
    d.palette.fill(qRgb(0, 0, 0));
    const std::size_t entries = std::min(paletteEntries(h), std::size_t{1} << std::min(bpp, 8));
    if (entries) {
        if (h.biSize > info.size() || (info.size() - h.biSize) / 4 < entries) return false;
        for (std::size_t i = 0; i < entries; ++i) d.palette[i] = fromQuad(info.data() + h.biSize + 4 * i);
    }
    return true;
}

// Pixels first .. first + count - 1 of one stored row, as RGB32.
void convertRow(const DibLayout &d, const std::uint8_t *src, int first, int count, QRgb *dst) {
    const int bpp = d.header.biBitCount;
    switch (bpp) {
    case 1:
    case 4:
    case 8: {
        const int perByte = 8 / bpp;
        const unsigned mask = (1u << bpp) - 1;
        for (int i = 0; i < count; ++i) {
            const int x = first + i;
            const unsigned shift = static_cast<unsigned>((perByte - 1 - x % perByte) * bpp);
            dst[i] = d.palette[(src[x / perByte] >> shift) & mask];
        }
        break;
    }
    case 16:
        for (int i = 0; i < count; ++i) {
            const std::uint8_t *p = src + 2 * (first + i);
            const unsigned v = p[0] | (p[1] << 8);
            auto expand = [](unsigned five) { return static_cast<int>((five << 3) | (five >> 2)); };
            dst[i] = qRgb(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
        }
        break;
    case 24:
        for (int i = 0; i < count; ++i) dst[i] = fromQuad(src + 3 * (first + i));
        break;
    case 32:
        for (int i = 0; i < count; ++i) dst[i] = fromQuad(src + 4 * (first + i));
        break;
    }
}

}  // namespace

QImage dibToImage(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits, int rows) {
    DibLayout d;
    if (rows <= 0 || !readLayout(info, d) || bits.size() < d.stride * static_cast<std::size_t>(rows)) return {};
    const bool bottomUp = d.header.biHeight > 0;
    const int width = d.header.biWidth;
    QImage image(width, rows, QImage::Format_RGB32);
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t *src = bits.data() + d.stride * static_cast<std::size_t>(bottomUp ? rows - 1 - y : y);
        convertRow(d, src, 0, width, reinterpret_cast<QRgb *>(image.scanLine(y)));
    }
    return image;
}

std::size_t dibHeaderBytes(std::span<const std::uint8_t> packed) {
    if (packed.size() < sizeof(BITMAPINFOHEADER)) return 0;
    BITMAPINFOHEADER h;
    std::memcpy(&h, packed.data(), sizeof h);
    return h.biSize + paletteEntries(h) * sizeof(RGBQUAD);
}

QImage packedDibToImage(std::span<const std::uint8_t> packed, int rows) {
    const std::size_t header = dibHeaderBytes(packed);
    if (!header || header > packed.size()) return {};
    BITMAPINFOHEADER h;
    std::memcpy(&h, packed.data(), sizeof h);
    if (!rows) rows = std::abs(static_cast<int>(h.biHeight));
    return dibToImage(packed.first(header), packed.subspan(header), rows);
}

// Converts the rows straight into the canvas: a window repainted at video
// rate takes no image of its own per paint.
void drawSurface(QImage &canvas, const user::PaintSurface &s) {
    DibLayout d;
    const int lines = static_cast<int>(s.scanLines);
    if (s.width <= 0 || s.height <= 0 || lines <= 0 || canvas.isNull() || !readLayout(s.info, d) ||
        s.bits.size() < d.stride * static_cast<std::size_t>(lines))
        return;
    if (canvas.format() != QImage::Format_RGB32) canvas = canvas.convertToFormat(QImage::Format_RGB32);

    // The rows hold DIB lines startScan.. counted from the bottom of a
    // bottom-up DIB, or from the top of a top-down one. Place them and the
    // source rectangle in top-down coordinates of the whole DIB.
    const BITMAPINFOHEADER &h = d.header;
    const int fullHeight = std::abs(static_cast<int>(h.biHeight));
    const bool bottomUp = h.biHeight > 0;
    const int bandTop = bottomUp ? fullHeight - static_cast<int>(s.startScan) - lines : static_cast<int>(s.startScan);
    const int srcTop = bottomUp ? fullHeight - s.ySrc - s.height : s.ySrc;
    const QRect source = QRect(s.xSrc, srcTop, s.width, s.height) & QRect(0, bandTop, h.biWidth, lines);
    if (source.isEmpty()) return;
    const QPoint dest(s.xDest + (source.left() - s.xSrc), s.yDest + (source.top() - srcTop));
    const QRect target = QRect(dest, source.size()) & canvas.rect();
    if (target.isEmpty()) return;
    const int firstColumn = source.left() + (target.left() - dest.x());
    const int firstLine = source.top() + (target.top() - dest.y());  // in the whole DIB, top-down
    for (int y = 0; y < target.height(); ++y) {
        const int bandRow = firstLine + y - bandTop;  // top-down within the rows given
        const std::uint8_t *src =
            s.bits.data() + d.stride * static_cast<std::size_t>(bottomUp ? lines - 1 - bandRow : bandRow);
        auto *dst = reinterpret_cast<QRgb *>(canvas.scanLine(target.top() + y)) + target.left();
        convertRow(d, src, firstColumn, target.width(), dst);
    }
}

}  // namespace plat::qt
