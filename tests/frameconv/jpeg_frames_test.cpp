// Motion-JPEG frames decoded to BGR rows: compared with libjpeg's own
// decoding of the same frame row by row (the reference), at odd sizes and
// into padded rows; damaged frames refused whole.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "alloc_counter.h"
#include "frameconv/jpeg_frames.h"
#include "test_jpeg.h"

namespace {

using plat::frameconv::JpegDecoder;

using noctil::test::encodeTestJpeg;
using noctil::test::referenceBgr;

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
        const std::vector<std::uint8_t> jpeg = encodeTestJpeg(c.width, c.height, c.components);
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
    const std::vector<std::uint8_t> good = encodeTestJpeg(64, 48, 3);
    std::vector<std::uint8_t> truncated(good.begin(), good.begin() + good.size() / 2);
    std::vector<std::uint8_t> scrambled = good;
    for (std::size_t i = scrambled.size() / 3; i < scrambled.size() - 2; i += 5) scrambled[i] = 0xFF;
    const std::vector<std::uint8_t> otherSize = encodeTestJpeg(32, 48, 3);
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
    const std::vector<std::uint8_t> jpeg = encodeTestJpeg(64, 48, 3);
    JpegDecoder decoder;
    decoder.prepare(64, 48);
    std::vector<std::uint8_t> out(64 * 3 * 48);
    ASSERT_TRUE(decoder.decodeToBgr24(jpeg, out, 64 * 3));
    alloc_counter::start();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(decoder.decodeToBgr24(jpeg, out, 64 * 3));
    EXPECT_EQ(alloc_counter::stop(), 0u);
}

}  // namespace
