// Every source format through the writer, back through the reader and the
// decoder, and through ffmpeg as an outside reader: the decoded images must
// agree with ffmpeg's pixel for pixel (within rounding for YUV).
#include <gtest/gtest.h>

#include <cstdlib>

#include "avi_test_support.h"
#include "avifile/avi_reader.h"
#include "avifile/avi_writer.h"
#include "avifile/dib_decode.h"
#include "avifile/riff.h"

namespace {

using namespace avitest;
using plat::avi::fourcc;

std::vector<std::uint8_t> greyPalette() {
    std::vector<std::uint8_t> p;
    for (int i = 0; i < 256; ++i) p.insert(p.end(), {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0});
    return p;
}

std::vector<std::uint8_t> colourPalette(int n) {
    std::vector<std::uint8_t> p;
    for (int i = 0; i < n; ++i)
        p.insert(p.end(), {std::uint8_t(i * 16), std::uint8_t(255 - i * 9), std::uint8_t(i * 37), 0});
    return p;
}

struct FormatCase {
    const char *name;
    std::int32_t width, height;
    std::uint16_t bits;
    std::uint32_t compression;
    std::vector<std::uint8_t> palette;
    std::size_t frameBytes;
    int tolerance;       // per channel, against ffmpeg
    int paletteColours;  // 0: any byte value is a pixel
};

std::vector<FormatCase> formatCases() {
    return {
        {"Bgr24OddWidth", 33, 7, 24, 0, {}, 100 * 7, 0, 0},  // rows of 99 bytes padded to 100
        {"Bgr24TopDown", 32, -6, 24, 0, {}, 96 * 6, 0, 0},
        {"Bgrx32", 16, 5, 32, 0, {}, 64 * 5, 0, 0},
        {"Grey8Palette", 30, 4, 8, 0, greyPalette(), 32 * 4, 0, 0},
        {"Colour8Palette", 31, 5, 8, 0, colourPalette(16), 32 * 5, 0, 16},
        {"Yuy2", 32, 6, 16, fourcc('Y', 'U', 'Y', '2'), {}, 64 * 6, 3, 0},
        {"Uyvy", 32, 6, 16, fourcc('U', 'Y', 'V', 'Y'), {}, 64 * 6, 3, 0},
        {"Y800", 32, 6, 8, fourcc('Y', '8', '0', '0'), {}, 32 * 6, 0, 0},
    };
}

void PrintTo(const FormatCase &c, std::ostream *os) { *os << c.name; }

class FormatRoundTrip : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatRoundTrip, WriterReaderAndFfmpegAgree) {
    const FormatCase &c = GetParam();
    TempDir dir;
    const auto file = dir.file(std::string(c.name) + ".avi");
    plat::avi::StreamFormat format;
    format.format = bitmapFormat(c.width, c.height, c.bits, c.compression, c.palette);
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::uint32_t i = 0; i < 3; ++i) {
        auto f = patternFrame(c.frameBytes, i + 1);
        if (c.paletteColours)
            for (auto &b : f) b = std::uint8_t(b % c.paletteColours);
        frames.push_back(f);
    }
    {
        auto writer = plat::avi::Writer::create(file, format);
        ASSERT_TRUE(writer);
        for (const auto &f : frames) ASSERT_TRUE(writer->append(f));
        ASSERT_TRUE(writer->finish());
    }

    auto reader = plat::avi::Reader::open(file);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->frameCount(), 3u);
    EXPECT_TRUE(
        std::equal(format.format.begin(), format.format.end(), reader->format().begin(), reader->format().end()));
    EXPECT_EQ(reader->header().rate, 25u);
    EXPECT_EQ(reader->header().scale, 1u);
    std::vector<std::uint8_t> bytes, dib;
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(reader->readFrame(i, bytes));
        EXPECT_EQ(bytes, frames[i]) << "frame " << i;
    }

    const Probe probe = ffprobe(file);
    EXPECT_EQ(probe.frames, 3);
    EXPECT_EQ(probe.width, c.width);
    EXPECT_EQ(probe.height, std::abs(c.height));
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.messages, "");

    std::string messages;
    const auto theirs = ffmpegBgr24(file, messages);
    EXPECT_EQ(messages, "");
    const std::uint32_t w = std::uint32_t(c.width), h = std::uint32_t(std::abs(c.height));
    ASSERT_EQ(theirs.size(), 3u * w * h * 3);
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(reader->decodeToDib24(i, dib));
        ASSERT_EQ(dib.size(), 40 + plat::avi::dib24Stride(w) * h);
        EXPECT_EQ(le32(dib, 0), 40u);
        EXPECT_EQ(le32(dib, 4), w);
        EXPECT_EQ(le32(dib, 8), h);  // bottom-up whatever the source
        EXPECT_EQ(dib[14], 24);
        EXPECT_EQ(le32(dib, 16), 0u);
        EXPECT_EQ(le32(dib, 20), plat::avi::dib24Stride(w) * h);
        int worst = 0;
        for (std::uint32_t y = 0; y < h; ++y) {
            // ffmpeg's rows are top-down, ours bottom-up.
            const std::uint8_t *mine = &dib[40 + (h - 1 - y) * plat::avi::dib24Stride(w)];
            const std::uint8_t *other = &theirs[(i * h + y) * w * 3];
            for (std::uint32_t x = 0; x < w * 3; ++x) worst = std::max(worst, std::abs(mine[x] - other[x]));
        }
        EXPECT_LE(worst, c.tolerance) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatRoundTrip, ::testing::ValuesIn(formatCases()),
                         [](const auto &info) { return std::string(info.param.name); });

// The decoder's own arithmetic on known pixels, where ffmpeg is not needed to
// say what is right: grey and black/white YUV, palette lookups, padding.
TEST(DecodeToDib24, KnownPixels) {
    std::vector<std::uint8_t> dib;
    // YUY2 2x1: Y0=235 (white), Y1=16 (black), neutral chroma.
    ASSERT_TRUE(plat::avi::decodeToDib24(bitmapFormat(2, 1, 16, fourcc('Y', 'U', 'Y', '2')),
                                         std::vector<std::uint8_t>{235, 128, 16, 128}, dib));
    EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 40, dib.begin() + 46),
              (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0}));
    // 8-bit with a two-colour table: index 1 is red; an index past the table is black.
    ASSERT_TRUE(plat::avi::decodeToDib24(bitmapFormat(3, 1, 8, 0, {0, 0, 0, 0, 0, 0, 255, 0}),
                                         std::vector<std::uint8_t>{1, 0, 7, 0}, dib));
    EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 40, dib.begin() + 49),
              (std::vector<std::uint8_t>{0, 0, 255, 0, 0, 0, 0, 0, 0}));
    // 8-bit without a table is grey.
    ASSERT_TRUE(plat::avi::decodeToDib24(bitmapFormat(1, 1, 8, 0), std::vector<std::uint8_t>{77, 0, 0, 0}, dib));
    EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 40, dib.begin() + 43), (std::vector<std::uint8_t>{77, 77, 77}));
    // Y800 two rows, top-down: the first stored row is the top, the last in the DIB.
    ASSERT_TRUE(plat::avi::decodeToDib24(bitmapFormat(1, 2, 8, fourcc('Y', '8', '0', '0')),
                                         std::vector<std::uint8_t>{10, 20}, dib));
    ASSERT_EQ(dib.size(), 40u + 2 * 4);
    EXPECT_EQ(dib[40], 20);
    EXPECT_EQ(dib[44], 10);
}

// Grey rows padded to four bytes (a 6-pixel row takes 8), told by the
// image size or only by the frame's size, are read with that stride; packed
// rows stay packed.
TEST(DecodeToDib24, GreyRowsPaddedToFourBytesAreReadWithTheirStride) {
    const std::vector<std::uint8_t> padded = {1, 2, 3, 4, 5, 6, 0xEE, 0xEE, 11, 12, 13, 14, 15, 16, 0xEE, 0xEE};
    const std::vector<std::uint8_t> packed = {1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16};
    struct Case {
        const char *what;
        std::uint32_t sizeImage;
        const std::vector<std::uint8_t> &frame;
    } cases[] = {
        {"padded, said by the image size", 16, padded},
        {"padded, image size 0", 0, padded},
        {"packed", 12, packed},
        {"packed, image size 0", 0, packed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::uint8_t> format = bitmapFormat(6, 2, 8, fourcc('Y', '8', '0', '0'));
        for (int i = 0; i < 4; ++i) format[20 + i] = std::uint8_t(c.sizeImage >> (8 * i));
        std::vector<std::uint8_t> dib;
        ASSERT_TRUE(plat::avi::decodeToDib24(format, c.frame, dib));
        ASSERT_EQ(dib.size(), 40u + 2 * 20);
        // Bottom-up: the DIB's first row is the frame's second.
        std::vector<std::uint8_t> bottom, top;
        for (int x = 0; x < 6; ++x) {
            bottom.push_back(dib[40 + 3 * x]);
            top.push_back(dib[60 + 3 * x]);
        }
        EXPECT_EQ(bottom, (std::vector<std::uint8_t>{11, 12, 13, 14, 15, 16}));
        EXPECT_EQ(top, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
    }
}

TEST(DecodeToDib24, RefusesWhatItCannotDecode) {
    std::vector<std::uint8_t> dib;
    const std::vector<std::uint8_t> frame(4096, 0);
    struct Case {
        const char *what;
        std::vector<std::uint8_t> format;
        std::size_t frameBytes;
    } cases[] = {
        {"16-bit BI_RGB", bitmapFormat(4, 4, 16, 0), 4096},
        {"compressed", bitmapFormat(4, 4, 24, fourcc('M', 'J', 'P', 'G')), 4096},
        {"zero width", bitmapFormat(0, 4, 24, 0), 4096},
        {"negative width", bitmapFormat(-4, 4, 24, 0), 4096},
        {"zero height", bitmapFormat(4, 0, 24, 0), 4096},
        {"huge side", bitmapFormat(1 << 20, 1, 8, fourcc('Y', '8', '0', '0')), 4096},
        {"short header", std::vector<std::uint8_t>(39, 0), 4096},
        {"frame one byte short", bitmapFormat(4, 4, 24, 0), 4 * 12 - 1},
        {"YUY2 odd width short", bitmapFormat(3, 2, 16, fourcc('Y', 'U', 'Y', '2')), 15},
    };
    for (const auto &c : cases)
        EXPECT_FALSE(plat::avi::decodeToDib24(c.format, std::span(frame).first(c.frameBytes), dib)) << c.what;
}

}  // namespace
