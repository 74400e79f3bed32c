// Motion-JPEG frames decoded to BGR rows: compared with libjpeg's own
// decoding of the same frame row by row (the reference), at odd sizes and
// into padded rows; damaged frames refused whole.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>
#include <vector>

#include <jpeglib.h>

#include "alloc_counter.h"
#include "frameconv/jpeg_frames.h"

namespace {

using plat::frameconv::JpegDecoder;

// A test picture: gradients and a pattern that differ per channel.
std::vector<std::uint8_t> picture(std::uint32_t width, std::uint32_t height, int components) {
    std::vector<std::uint8_t> p(std::size_t(width) * height * components);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c)
                p[(std::size_t(y) * width + x) * components + c] = std::uint8_t(x * (3 + c) + y * (5 - c) + ((x ^ y) & 8) * 4);
    return p;
}

std::vector<std::uint8_t> encode(std::uint32_t width, std::uint32_t height, int components) {
    const std::vector<std::uint8_t> pixels = picture(width, height, components);
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char *data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &data, &size);
    c.image_width = width;
    c.image_height = height;
    c.input_components = components;
    c.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<std::uint8_t *>(&pixels[std::size_t(c.next_scanline) * width * components]);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<std::uint8_t> out(data, data + size);
    jpeg_destroy_compress(&c);
    std::free(data);
    return out;
}

// libjpeg's decoding to RGB, turned into B,G,R: what every row must hold.
std::vector<std::uint8_t> referenceBgr(const std::vector<std::uint8_t> &jpeg) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, jpeg.data(), jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_RGB;
    jpeg_start_decompress(&d);
    std::vector<std::uint8_t> rgb(std::size_t(d.output_width) * d.output_height * 3);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = &rgb[std::size_t(d.output_scanline) * d.output_width * 3];
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    for (std::size_t i = 0; i < rgb.size(); i += 3) std::swap(rgb[i], rgb[i + 2]);
    return rgb;
}

TEST(JpegFrames, DecodedRowsEqualTheReferenceAtOddSizesAndPaddedRows) {
    struct Case {
        const char *name;
        std::uint32_t width, height;
        int components;
        std::uint32_t extraStride;
    } cases[] = {
        {"colour", 64, 48, 3, 0},
        {"colour, odd size", 33, 17, 3, 0},
        {"colour, padded rows", 45, 20, 3, 5},
        {"grey", 40, 24, 1, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::uint8_t> jpeg = encode(c.width, c.height, c.components);
        const std::vector<std::uint8_t> expected = referenceBgr(jpeg);
        JpegDecoder decoder;
        decoder.prepare(c.width, c.height);
        const std::uint64_t stride = std::uint64_t(c.width) * 3 + c.extraStride;
        std::vector<std::uint8_t> out(stride * c.height, 0xEE);
        ASSERT_TRUE(decoder.decodeToBgr24(jpeg, out, stride)) << decoder.error();
        for (std::uint32_t y = 0; y < c.height; ++y) {
            const auto row = out.begin() + y * stride;
            ASSERT_TRUE(std::equal(row, row + c.width * 3, expected.begin() + y * c.width * 3)) << "row " << y;
            for (std::uint32_t b = c.width * 3; b < stride; ++b) ASSERT_EQ(row[b], 0) << "padding of row " << y;
        }
    }
}

TEST(JpegFrames, DamagedFramesAreRefusedWholeAndTheNextOneDecodes) {
    const std::vector<std::uint8_t> good = encode(64, 48, 3);
    std::vector<std::uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<std::uint8_t> scrambled = good;
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size() - 2; i += 5) scrambled[i] = 0xFF;
    const std::vector<std::uint8_t> otherSize = encode(32, 48, 3);
    const std::vector<std::uint8_t> notJpeg(4000, 0x80);
    struct Case {
        const char *name;
        const std::vector<std::uint8_t> &frame;
    } cases[] = {{"cut off in the middle", truncated},
                 {"damaged entropy data", scrambled},
                 {"another size than the stream's", otherSize},
                 {"not a JPEG image", notJpeg}};
    JpegDecoder decoder;
    decoder.prepare(64, 48);
    std::vector<std::uint8_t> out(64 * 3 * 48, 0xEE);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(decoder.decodeToBgr24(c.frame, out, 64 * 3));
        EXPECT_STRNE(decoder.error(), "");
        EXPECT_EQ(out, std::vector<std::uint8_t>(out.size(), 0xEE)) << "not one row drawn";
    }
    ASSERT_TRUE(decoder.decodeToBgr24(good, out, 64 * 3)) << decoder.error();
    EXPECT_EQ(out, referenceBgr(good));
}

TEST(JpegFrames, DecodingAllocatesNothingOfItsOwn) {
    const std::vector<std::uint8_t> jpeg = encode(64, 48, 3);
    JpegDecoder decoder;
    decoder.prepare(64, 48);
    std::vector<std::uint8_t> out(64 * 3 * 48);
    ASSERT_TRUE(decoder.decodeToBgr24(jpeg, out, 64 * 3));
    alloc_counter::start();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(decoder.decodeToBgr24(jpeg, out, 64 * 3));
    EXPECT_EQ(alloc_counter::stop(), 0u);
}

}  // namespace
