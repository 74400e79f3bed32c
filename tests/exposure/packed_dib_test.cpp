// The PackedDib layout rules: colour table, row stride, block size and where
// the pixel rows begin.
#include <gtest/gtest.h>

#include <climits>

#include "app_state.h"

namespace {

BITMAPINFOHEADER Header(LONG width, LONG height, WORD bitCount, DWORD compression = BI_RGB, DWORD clrUsed = 0)
{
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biCompression = compression;
    header.biClrUsed = clrUsed;
    return header;
}

TEST(PackedDibLayout, SizesFollowTheBitmapFormat)
{
    struct Case {
        const char *name;
        BITMAPINFOHEADER header;
        size_t colorTable, stride, block, rowsAt;
    } cases[] = {
        {"24-bit 640 x 480", Header(640, 480, 24), 0, 1920, 921640, 40},
        {"24-bit 641 wide rounds its rows up", Header(641, 480, 24), 0, 1924, 40 + 1924 * 480, 40},
        {"8-bit without a colour count has 256 entries", Header(640, 480, 8), 1024, 640, 40 + 1024 + 640 * 480, 1064},
        {"8-bit with 236 colours", Header(640, 480, 8, BI_RGB, 236), 944, 640, 40 + 944 + 640 * 480, 984},
        {"16-bit bit fields carry three masks", Header(320, 240, 16, BI_BITFIELDS), 12, 640, 40 + 12 + 640 * 240, 52},
        {"16-bit RGB has no table", Header(320, 240, 16), 0, 640, 40 + 640 * 240, 40},
        {"16-bit 3 wide rounds 6 bytes to 8", Header(3, 2, 16), 0, 8, 40 + 16, 40},
        {"32-bit rows need no padding", Header(5, 3, 32), 0, 20, 40 + 60, 40},
        {"top-down rows count the same", Header(640, -480, 24), 0, 1920, 921640, 40},
        {"1-bit has two entries and padded rows", Header(33, 2, 1), 8, 8, 40 + 8 + 16, 48},
        {"24-bit with a colour count keeps its table", Header(4, 4, 24, BI_RGB, 16), 64, 12, 40 + 64 + 48, 104},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PackedDibColorTableBytes(&c.header), c.colorTable);
        EXPECT_EQ(PackedDibStride(&c.header), c.stride);
        EXPECT_EQ(PackedDibSize(&c.header), c.block);
        BITMAPINFOHEADER copy = c.header;
        EXPECT_EQ((size_t)(PackedDibBits(&copy) - (BYTE *)&copy), c.rowsAt);
    }
}

TEST(PackedDibLayout, HeadersThatNoBlockCanMatchHaveNoSize)
{
    struct Case {
        const char *name;
        BITMAPINFOHEADER header;
    } cases[] = {
        {"zero width", Header(0, 480, 24)},
        {"negative width", Header(-640, 480, 24)},
        {"zero height", Header(640, 0, 24)},
        {"zero bits a pixel", Header(640, 480, 0)},
        {"seven bits a pixel", Header(640, 480, 7)},
        {"a colour count no file can hold", Header(640, 480, 8, BI_RGB, 0xFFFFFFFF)},
        {"a width past any capture", Header(INT_MAX, 480, 24)},
        {"the most negative height", Header(640, INT_MIN, 24)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PackedDibSize(&c.header), 0u);
    }
}

}  // namespace
