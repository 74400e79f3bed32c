// DIBs as images: every pixel format the program and the drivers draw with,
// row order, row padding, colour tables, and placement on the window.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "display/qt/dib_image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(int width, int height, int bits, std::vector<RGBQUAD> palette = {}, DWORD used = 0) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bits);
    h.biCompression = BI_RGB;
    h.biClrUsed = used;
    Bytes out(sizeof h + palette.size() * sizeof(RGBQUAD));
    std::memcpy(out.data(), &h, sizeof h);
    if (!palette.empty()) std::memcpy(out.data() + sizeof h, palette.data(), palette.size() * sizeof(RGBQUAD));
    return out;
}

RGBQUAD quad(BYTE r, BYTE g, BYTE b) { return RGBQUAD{b, g, r, 0}; }

struct Case {
    const char *name;
    Bytes info;
    Bytes bits;
    int rows;
    // Expected top-down pixels, row by row.
    std::vector<std::vector<QRgb>> pixels;
};

TEST(DibImage, ConvertsEachFormatTopDown) {
    const QRgb red = qRgb(255, 0, 0), green = qRgb(0, 255, 0), blue = qRgb(0, 0, 255), white = qRgb(255, 255, 255);
    const Case cases[] = {
        // Bottom-up 8-bit: the first stored row is the bottom one; rows pad to 4 bytes.
        {"8-bit bottom-up",
         header(3, 2, 8, {quad(255, 0, 0), quad(0, 255, 0), quad(0, 0, 255)}, 3),
         {2, 2, 2, 0xEE, 0, 1, 0, 0xEE},
         2,
         {{red, green, red}, {blue, blue, blue}}},
        // Top-down 8-bit with a full 256-entry table taken when biClrUsed is 0.
        {"8-bit top-down",
         header(1, -2, 8, std::vector<RGBQUAD>(256, quad(255, 255, 255))),
         {7, 0, 0, 0, 200, 0, 0, 0},
         2,
         {{white}, {white}}},
        // 4-bit: the high nibble is the left pixel.
        {"4-bit",
         header(3, 1, 4, {quad(0, 0, 0), quad(255, 0, 0), quad(0, 255, 0)}, 3),
         {0x12, 0x00, 0, 0},
         1,
         {{red, green, qRgb(0, 0, 0)}}},
        // 1-bit: the most significant bit is the left pixel.
        {"1-bit",
         header(9, 1, 1, {quad(0, 0, 0), quad(255, 255, 255)}),
         {0x80, 0x80, 0, 0},
         1,
         {{white, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, 0xFF000000, white}}},
        // 24-bit: blue, green, red in memory; a 2-pixel row pads 6 bytes to 8.
        {"24-bit", header(2, 1, 24), {0, 0, 255, 255, 0, 0, 0, 0}, 1, {{red, blue}}},
        // 32-bit: the fourth byte is ignored.
        {"32-bit", header(1, 1, 32), {0, 255, 0, 99}, 1, {{green}}},
        // 16-bit 5-5-5: full-scale fields become 255.
        {"16-bit", header(2, 1, 16), {0x00, 0x7C, 0x1F, 0x00}, 1, {{red, blue}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QImage image = plat::qt::dibToImage(c.info, c.bits, c.rows);
        ASSERT_FALSE(image.isNull());
        ASSERT_EQ(image.height(), static_cast<int>(c.pixels.size()));
        for (int y = 0; y < image.height(); ++y) {
            ASSERT_EQ(image.width(), static_cast<int>(c.pixels[y].size()));
            for (int x = 0; x < image.width(); ++x)
                EXPECT_EQ(image.pixel(x, y), c.pixels[y][x]) << "pixel " << x << "," << y;
        }
    }
}

TEST(DibImage, RefusesWhatItCannotShow) {
    BITMAPINFOHEADER rle{};
    rle.biSize = sizeof rle;
    rle.biWidth = 4;
    rle.biHeight = 4;
    rle.biBitCount = 8;
    rle.biCompression = BI_RLE8;
    Bytes rleInfo(sizeof rle + 1024);
    std::memcpy(rleInfo.data(), &rle, sizeof rle);
    const struct {
        const char *name;
        Bytes info;
        Bytes bits;
        int rows;
    } cases[] = {
        {"too few bytes for the rows", header(4, 2, 24), Bytes(12), 2},
        {"colour table cut short", header(2, 1, 8, {quad(1, 2, 3)}, 16), Bytes(4), 1},
        {"compressed", rleInfo, Bytes(64), 4},
        {"no rows", header(4, 1, 24), Bytes(12), 0},
        {"header cut short", Bytes(20), Bytes(12), 1},
        {"zero width", header(0, 1, 24), Bytes(12), 1},
        {"unknown depth", header(4, 1, 12), Bytes(64), 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(plat::qt::dibToImage(c.info, c.bits, c.rows).isNull());
    }
}

plat::user::PaintSurface surface(int width, int height, QRgb colour) {
    plat::user::PaintSurface s;
    s.info = header(width, height, 24);
    const std::size_t stride = ((static_cast<std::size_t>(width) * 24 + 31) / 32) * 4;
    s.bits.assign(stride * static_cast<std::size_t>(height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t *p = s.bits.data() + stride * static_cast<std::size_t>(y) + 3 * static_cast<std::size_t>(x);
            p[0] = static_cast<std::uint8_t>(qBlue(colour));
            p[1] = static_cast<std::uint8_t>(qGreen(colour));
            p[2] = static_cast<std::uint8_t>(qRed(colour));
        }
    s.width = width;
    s.height = height;
    s.scanLines = static_cast<unsigned>(height);
    return s;
}

TEST(DibImage, DrawsAtItsPlaceAndLeavesTheRest) {
    QImage canvas(10, 8, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    plat::user::PaintSurface s = surface(4, 3, qRgb(10, 20, 30));
    s.xDest = 2;
    s.yDest = 1;
    plat::qt::drawSurface(canvas, s);
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
            EXPECT_EQ(canvas.pixel(x, y), inside ? qRgb(10, 20, 30) : qRgb(255, 255, 255)) << x << "," << y;
        }
    // A smaller image afterwards does not erase what the first one left.
    plat::user::PaintSurface small = surface(1, 1, qRgb(0, 0, 0));
    small.xDest = 2;
    small.yDest = 1;
    plat::qt::drawSurface(canvas, small);
    EXPECT_EQ(canvas.pixel(2, 1), qRgb(0, 0, 0));
    EXPECT_EQ(canvas.pixel(3, 1), qRgb(10, 20, 30));
}

TEST(DibImage, ClipsAtTheWindowEdgeAndTakesTheSourceRectangle) {
    QImage canvas(4, 4, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    // A bottom-up 2x2 image whose top row is red and bottom row blue; the
    // source rectangle takes only the top row (ySrc counts from the bottom).
    plat::user::PaintSurface s;
    s.info = header(2, 2, 24);
    s.bits = {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0};
    s.scanLines = 2;
    s.width = 2;
    s.height = 1;
    s.ySrc = 1;
    s.xDest = 3;  // one column falls outside the canvas
    plat::qt::drawSurface(canvas, s);
    EXPECT_EQ(canvas.pixel(3, 0), qRgb(255, 0, 0));
    EXPECT_EQ(canvas.pixel(3, 1), qRgb(255, 255, 255));
    EXPECT_EQ(canvas.pixel(2, 0), qRgb(255, 255, 255));
}

}  // namespace
