// Planar YUV repacked as YUY2, compared with a reference written from the
// formats' definitions: each output pixel pair's Y, Cb and Cr looked up by
// coordinates in the source planes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "frameconv/planar_yuv.h"

namespace {

using plat::frameconv::PlanarFrame;
using plat::frameconv::PlanarLayout;
using plat::frameconv::planarToYuy2;
using plat::frameconv::yuy2Stride;

struct Source {
    PlanarFrame frame;
    std::vector<std::uint8_t> bytes;
};

// Every byte a different value, padding included, so a byte taken from the
// wrong place shows.
Source makeSource(PlanarLayout layout, std::uint32_t width, std::uint32_t height, std::uint32_t padding) {
    Source s;
    s.frame = {layout, width, height, width + padding};
    const std::uint64_t bytes = *plat::frameconv::planarBytes(s.frame);
    s.bytes.resize(bytes);
    for (std::size_t i = 0; i < s.bytes.size(); ++i) s.bytes[i] = std::uint8_t(i * 7 + i / 251);
    return s;
}

// The formats' definitions, sample by sample.
std::uint8_t lumaAt(const Source &s, std::uint32_t x, std::uint32_t y) {
    return s.bytes[std::size_t(y) * s.frame.bytesPerLine + x];
}
void chromaAt(const Source &s, std::uint32_t x, std::uint32_t y, std::uint8_t &cb, std::uint8_t &cr) {
    const PlanarFrame &f = s.frame;
    const std::size_t luma = std::size_t(f.bytesPerLine) * f.height;
    const std::uint32_t cx = x / 2;
    switch (f.layout) {
    case PlanarLayout::Yu12:
    case PlanarLayout::Yv12: {
        const std::size_t stride = (f.bytesPerLine + 1) / 2, plane = stride * ((f.height + 1) / 2);
        const std::size_t at = luma + (y / 2) * stride + cx;
        const std::uint8_t first = s.bytes[at], second = s.bytes[at + plane];
        cb = f.layout == PlanarLayout::Yu12 ? first : second;
        cr = f.layout == PlanarLayout::Yu12 ? second : first;
        return;
    }
    case PlanarLayout::Nv12:
    case PlanarLayout::Nv21: {
        const std::size_t at = luma + (y / 2) * std::size_t(f.bytesPerLine) + 2 * cx;
        cb = s.bytes[at + (f.layout == PlanarLayout::Nv12 ? 0 : 1)];
        cr = s.bytes[at + (f.layout == PlanarLayout::Nv12 ? 1 : 0)];
        return;
    }
    case PlanarLayout::Yuv422p: {
        const std::size_t stride = (f.bytesPerLine + 1) / 2, plane = stride * f.height;
        cb = s.bytes[luma + y * stride + cx];
        cr = s.bytes[luma + plane + y * stride + cx];
        return;
    }
    }
}

std::vector<std::uint8_t> reference(const Source &s, std::uint64_t outStride) {
    const PlanarFrame &f = s.frame;
    std::vector<std::uint8_t> out(outStride * f.height, 0);
    for (std::uint32_t y = 0; y < f.height; ++y)
        for (std::uint32_t x = 0; x < f.width; x += 2) {
            std::uint8_t cb = 0, cr = 0;
            chromaAt(s, x, y, cb, cr);
            std::uint8_t *o = &out[y * outStride + 2 * x];
            o[0] = lumaAt(s, x, y);
            o[1] = cb;
            o[2] = lumaAt(s, x + 1 < f.width ? x + 1 : x, y);
            o[3] = cr;
        }
    return out;
}

struct Case {
    const char *name;
    PlanarLayout layout;
    std::uint32_t width, height, padding;
};

const Case kCases[] = {
    {"YU12", PlanarLayout::Yu12, 64, 48, 0},
    {"YU12, padded rows", PlanarLayout::Yu12, 64, 48, 16},
    {"YU12, odd width and height", PlanarLayout::Yu12, 63, 47, 0},
    {"YV12, odd width, padded", PlanarLayout::Yv12, 33, 20, 7},
    {"NV12", PlanarLayout::Nv12, 64, 48, 0},
    {"NV12, odd width, padded to hold the last pair", PlanarLayout::Nv12, 31, 17, 1},
    {"NV21, padded", PlanarLayout::Nv21, 40, 30, 24},
    {"422P", PlanarLayout::Yuv422p, 64, 48, 0},
    {"422P, odd width, padded", PlanarLayout::Yuv422p, 45, 11, 3},
};

TEST(PlanarYuv, EveryLayoutMatchesTheReferenceExactly) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        const Source s = makeSource(c.layout, c.width, c.height, c.padding);
        const std::uint64_t stride = yuy2Stride(c.width);
        std::vector<std::uint8_t> out(stride * c.height, 0xEE);
        ASSERT_TRUE(planarToYuy2(s.frame, s.bytes, out, stride));
        const std::vector<std::uint8_t> expected = reference(s, stride);
        for (std::uint32_t y = 0; y < c.height; ++y)
            ASSERT_TRUE(
                std::equal(out.begin() + y * stride, out.begin() + (y + 1) * stride, expected.begin() + y * stride))
                << "row " << y;
    }
}

TEST(PlanarYuv, FieldsGoToEveryOtherRowAndPaddingIsCleared) {
    const Source top = makeSource(PlanarLayout::Yu12, 16, 8, 0);
    const std::uint64_t stride = yuy2Stride(16) + 8;  // a wider row than the pixels need
    std::vector<std::uint8_t> out(stride * 16, 0xEE);
    ASSERT_TRUE(planarToYuy2(top.frame, top.bytes, out, stride, 1, 2));
    const std::vector<std::uint8_t> expected = reference(top, stride);
    for (std::uint32_t r = 0; r < 8; ++r) {
        EXPECT_TRUE(std::equal(out.begin() + (2 * r + 1) * stride, out.begin() + (2 * r + 2) * stride,
                               expected.begin() + r * stride))
            << "field row " << r;
        EXPECT_EQ(out[2 * r * stride], 0xEE) << "the other field's row " << 2 * r << " is left alone";
    }
}

TEST(PlanarYuv, ShortOrNonsenseInputIsRefusedAndNothingIsWritten) {
    const Source s = makeSource(PlanarLayout::Nv12, 32, 16, 0);
    const std::uint64_t stride = yuy2Stride(32);
    std::vector<std::uint8_t> out(stride * 16, 0xEE);
    const std::vector<std::uint8_t> untouched = out;
    const std::span<const std::uint8_t> bytes(s.bytes);
    EXPECT_FALSE(planarToYuy2(s.frame, bytes.first(bytes.size() - 1), out, stride)) << "one byte short";
    EXPECT_FALSE(planarToYuy2(s.frame, bytes, std::span(out).first(out.size() - 1), stride)) << "no room";
    EXPECT_FALSE(planarToYuy2(s.frame, bytes, out, stride - 4)) << "rows too short";
    PlanarFrame narrow = s.frame;
    narrow.bytesPerLine = 31;
    EXPECT_FALSE(planarToYuy2(narrow, bytes, out, stride)) << "a row shorter than the width";
    PlanarFrame oddPairs{PlanarLayout::Nv12, 31, 16, 31};
    EXPECT_FALSE(plat::frameconv::planarBytes(oddPairs)) << "no room for the last Cb,Cr pair";
    EXPECT_EQ(out, untouched);
}

}  // namespace
