// Writers, readers and decodes that reuse their storage from file to file:
// nothing of an earlier file may show in a later one.
#include <gtest/gtest.h>

#include <fcntl.h>

#include "avi_test_support.h"
#include "avifile/avi_reader.h"
#include "avifile/avi_writer.h"
#include "avifile/dib_decode.h"

namespace {

using namespace avitest;

int createFile(const std::filesystem::path &path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

plat::avi::StreamFormat streamFormat(std::int32_t width, std::int32_t height) {
    plat::avi::StreamFormat f;
    f.format = bitmapFormat(width, height, 24, 0);
    return f;
}

// One writer makes a file of three large frames, then one of a single small
// frame in another format: each file has its own frames, format and index.
TEST(WriterReuse, EachFileHasOnlyItsOwnFrames) {
    TempDir dir;
    plat::avi::Writer writer;
    EXPECT_FALSE(writer.append(patternFrame(12, 0))) << "no file yet";
    const std::vector<std::uint8_t> big[3] = {patternFrame(96 * 6, 1), patternFrame(96 * 6, 2),
                                              patternFrame(96 * 6, 3)};
    const std::vector<std::uint8_t> small = patternFrame(4 * 2, 9);
    ASSERT_TRUE(writer.start(createFile(dir.file("a.avi")), streamFormat(32, 6)));
    for (const auto &frame : big) ASSERT_TRUE(writer.append(frame));
    ASSERT_TRUE(writer.start(createFile(dir.file("b.avi")), streamFormat(1, 2)));
    EXPECT_EQ(writer.frameCount(), 0u);
    ASSERT_TRUE(writer.append(small));
    ASSERT_TRUE(writer.finish());

    const auto a = plat::avi::Reader::open(dir.file("a.avi"));
    const auto b = plat::avi::Reader::open(dir.file("b.avi"));
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->frameCount(), 3u);
    ASSERT_EQ(b->frameCount(), 1u);
    EXPECT_EQ(b->width(), 1u);
    std::vector<std::uint8_t> frame;
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(a->readFrame(i, frame));
        EXPECT_EQ(frame, big[i]) << "frame " << i;
    }
    ASSERT_TRUE(b->readFrame(0, frame));
    EXPECT_EQ(frame, small);
    EXPECT_EQ(ffprobe(dir.file("a.avi")).frames, 3);
    EXPECT_EQ(ffprobe(dir.file("b.avi")).frames, 1);
}

// A start on a descriptor that is not open fails and leaves a writer with no file.
TEST(WriterReuse, AFailedStartLeavesNoFile) {
    plat::avi::Writer writer;
    EXPECT_FALSE(writer.start(-1, streamFormat(4, 4)));
    EXPECT_FALSE(writer.append(patternFrame(48, 0)));
}

// A reader reopened on another file reads that file; reopened on something
// that is not one, it has no frames.
TEST(ReaderReuse, ReopenReadsTheNewFileOrNothing) {
    TempDir dir;
    struct Stored {
        const char *name;
        int width;
        unsigned pattern;
    };
    for (const Stored &file : {Stored{"wide.avi", 33, 1}, Stored{"narrow.avi", 2, 2}}) {
        plat::avi::Writer writer;
        ASSERT_TRUE(writer.start(createFile(dir.file(file.name)), streamFormat(file.width, 3)));
        const std::size_t rows = 3;
        ASSERT_TRUE(writer.append(
            patternFrame(std::size_t(plat::avi::dib24Stride(std::uint32_t(file.width)) * rows), file.pattern)));
    }
    writeFile(dir.file("junk.avi"), std::vector<std::uint8_t>(64, 'x'));
    auto reader = plat::avi::Reader::open(dir.file("wide.avi"));
    ASSERT_TRUE(reader);
    std::vector<std::uint8_t> dib;
    ASSERT_TRUE(reader->decodeToDib24(0, dib));

    ASSERT_TRUE(reader->reopen(dir.file("narrow.avi").c_str()));
    EXPECT_EQ(reader->width(), 2u);
    ASSERT_TRUE(reader->decodeToDib24(0, dib));
    ASSERT_EQ(dib.size(), 40u + 8 * 3);
    const std::vector<std::uint8_t> stored = patternFrame(8 * 3, 2);
    for (std::size_t row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const auto *got = dib.data() + 40 + 8 * row;
        EXPECT_TRUE(std::equal(got, got + 6, stored.begin() + std::ptrdiff_t(8 * row)));
        EXPECT_EQ(got[6], 0) << "padding is zero, whatever the file or the wide image had there";
        EXPECT_EQ(got[7], 0);
    }

    for (const char *bad : {"junk.avi", "missing.avi"}) {
        EXPECT_FALSE(reader->reopen(dir.file(bad).c_str())) << bad;
        EXPECT_EQ(reader->frameCount(), 0u) << bad;
        EXPECT_FALSE(reader->decodeToDib24(0, dib)) << bad;
    }
}

// Decoding into storage that held a larger image: the padding is zero.
TEST(DecodeReuse, PaddingIsZeroInReusedStorage) {
    std::vector<std::uint8_t> dib(4096, 0xEE);
    const std::vector<std::uint8_t> grey = {10, 20, 30, 0, 50, 60, 70, 0};
    ASSERT_TRUE(plat::avi::decodeToDib24(bitmapFormat(3, 2, 8, 0), grey, dib));
    ASSERT_EQ(dib.size(), 40u + 12 * 2);
    // Rows of 9 bytes padded to 12; the grey rows are stored 4 bytes apart.
    EXPECT_EQ(std::vector<std::uint8_t>(dib.begin() + 40, dib.end()),
              (std::vector<std::uint8_t>{10, 10, 10, 20, 20, 20, 30, 30, 30, 0, 0, 0,  //
                                         50, 50, 50, 60, 60, 60, 70, 70, 70, 0, 0, 0}));
}

}  // namespace
