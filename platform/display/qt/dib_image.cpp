#include "display/qt/dib_image.h"

#include <windows.h>

#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace plat::qt {

namespace {

std::size_t paletteEntries(const BITMAPINFOHEADER &h) {
    if (h.biBitCount > 8) return 0;
    return h.biClrUsed ? h.biClrUsed : (std::size_t{1} << h.biBitCount);
}

QRgb fromQuad(const std::uint8_t *quad) { return qRgb(quad[2], quad[1], quad[0]); }

}  // namespace

QImage dibToImage(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits, int rows) {
    if (info.size() < sizeof(BITMAPINFOHEADER) || rows <= 0) return {};
    BITMAPINFOHEADER h;
    std::memcpy(&h, info.data(), sizeof h);
    const int bpp = h.biBitCount;
    if (h.biCompression != BI_RGB || h.biWidth <= 0 || h.biHeight == 0) return {};
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return {};
    const int width = h.biWidth;
    const std::size_t stride = ((static_cast<std::size_t>(width) * bpp + 31) / 32) * 4;
    if (bits.size() < stride * static_cast<std::size_t>(rows)) return {};

    const std::size_t entries = paletteEntries(h);
    std::vector<QRgb> palette(std::size_t{1} << std::min(bpp, 8), qRgb(0, 0, 0));
    if (entries) {
        const std::size_t available = (info.size() - h.biSize) / 4;
        if (h.biSize > info.size() || available < std::min(entries, palette.size())) return {};
        for (std::size_t i = 0; i < std::min(entries, palette.size()); ++i)
            palette[i] = fromQuad(info.data() + h.biSize + 4 * i);
    }

    const bool bottomUp = h.biHeight > 0;
    QImage image(width, rows, QImage::Format_RGB32);
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t *src = bits.data() + stride * static_cast<std::size_t>(bottomUp ? rows - 1 - y : y);
        auto *dst = reinterpret_cast<QRgb *>(image.scanLine(y));
        switch (bpp) {
            case 1:
            case 4:
            case 8: {
                const int perByte = 8 / bpp;
                const unsigned mask = (1u << bpp) - 1;
                for (int x = 0; x < width; ++x) {
                    const unsigned shift = static_cast<unsigned>((perByte - 1 - x % perByte) * bpp);
                    dst[x] = palette[(src[x / perByte] >> shift) & mask];
                }
                break;
            }
            case 16:
                for (int x = 0; x < width; ++x) {
                    const unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
                    auto expand = [](unsigned five) { return static_cast<int>((five << 3) | (five >> 2)); };
                    dst[x] = qRgb(expand((v >> 10) & 31), expand((v >> 5) & 31), expand(v & 31));
                }
                break;
            case 24:
                for (int x = 0; x < width; ++x) dst[x] = fromQuad(src + 3 * x);
                break;
            case 32:
                for (int x = 0; x < width; ++x) dst[x] = fromQuad(src + 4 * x);
                break;
        }
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

void drawSurface(QImage &canvas, const user::PaintSurface &s) {
    if (s.info.size() < sizeof(BITMAPINFOHEADER) || s.width <= 0 || s.height <= 0) return;
    BITMAPINFOHEADER h;
    std::memcpy(&h, s.info.data(), sizeof h);
    const int fullHeight = std::abs(static_cast<int>(h.biHeight));
    const int lines = static_cast<int>(s.scanLines);
    QImage band = dibToImage(s.info, s.bits, lines);
    if (band.isNull()) return;

    // The band holds DIB lines startScan.. counted from the bottom of a
    // bottom-up DIB, or from the top of a top-down one. Place it and the
    // source rectangle in top-down coordinates of the whole DIB.
    const bool bottomUp = h.biHeight > 0;
    const int bandTop = bottomUp ? fullHeight - static_cast<int>(s.startScan) - lines : static_cast<int>(s.startScan);
    const int srcTop = bottomUp ? fullHeight - s.ySrc - s.height : s.ySrc;
    const QRect source = QRect(s.xSrc, srcTop, s.width, s.height) & QRect(0, bandTop, band.width(), lines);
    if (source.isEmpty()) return;
    const QPoint dest(s.xDest + (source.left() - s.xSrc), s.yDest + (source.top() - srcTop));
    QPainter painter(&canvas);
    painter.drawImage(dest, band, source.translated(0, -bandTop));
}

}  // namespace plat::qt
