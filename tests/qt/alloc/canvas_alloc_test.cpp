// Live video on the Qt display: a frame drawn on a window's canvas of the
// same size takes no heap block, counted over the whole process so that Qt's
// own image buffers count too.
#include <gtest/gtest.h>
#include <windows.h>

#include <QImage>

#include <cstring>
#include <vector>

#include "display/qt/dib_image.h"
#include "malloc_count.h"

namespace {

struct FrameCase {
    const char *name;
    int width, height;  // height < 0: top-down rows
    int bits;
};

plat::user::PaintSurface frameOf(const FrameCase &c, std::uint8_t fill) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = c.width;
    h.biHeight = c.height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(c.bits);
    h.biCompression = BI_RGB;
    plat::user::PaintSurface s;
    s.info.resize(sizeof h + (c.bits == 8 ? 256 * sizeof(RGBQUAD) : 0), fill);
    std::memcpy(s.info.data(), &h, sizeof h);
    const int rows = std::abs(c.height);
    const std::size_t stride = ((static_cast<std::size_t>(c.width) * c.bits + 31) / 32) * 4;
    s.bits.assign(stride * static_cast<std::size_t>(rows), fill);
    s.width = c.width;
    s.height = rows;
    s.scanLines = static_cast<unsigned>(rows);
    return s;
}

TEST(QtCanvas, FramesOfTheCanvasSizeAllocateNothing) {
    const FrameCase cases[] = {
        {"640 x 480, 24-bit, bottom-up", 640, 480, 24},
        {"320 x 240, 32-bit, top-down", 320, -240, 32},
        {"64 x 48, 8-bit with a colour table", 64, 48, 8},
    };
    for (const FrameCase &c : cases) {
        SCOPED_TRACE(c.name);
        QImage canvas(c.width, std::abs(c.height), QImage::Format_RGB32);
        canvas.fill(Qt::white);
        const plat::user::PaintSurface dark = frameOf(c, 0x10), light = frameOf(c, 0xE0);
        plat::qt::drawSurface(canvas, dark);

        bench::startHeapCount();
        for (int frame = 0; frame < 5; ++frame) plat::qt::drawSurface(canvas, frame % 2 ? dark : light);
        const bench::HeapCount heap = bench::stopHeapCount();
        EXPECT_EQ(heap.blocks, 0u);
        EXPECT_EQ(canvas.pixel(c.width - 1, 0), qRgb(0xE0, 0xE0, 0xE0)) << "the last frame is on the canvas";
    }
}

}  // namespace
