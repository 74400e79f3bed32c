// The reader on files it must not trust: every truncation of a good file,
// fields changed to lie, and every input that ever failed (the fuzzer's
// corpus of former failures). None may crash or overread (the sanitized
// build checks that); each gives a failed open or frames that are true.
#include <gtest/gtest.h>

#include "avi_test_support.h"
#include "avifile/avi_reader.h"
#include "avifile/avi_writer.h"
#include "avifile/dib_decode.h"
#include "avifile/riff.h"

namespace {

using namespace avitest;

constexpr std::size_t kFrameBytes = 24 * 4;  // 24-bit 8 x 4

// A finished three-frame file, as bytes.
std::vector<std::uint8_t> goodFile(const plat::avi::WriterOptions &options = {}) {
    TempDir dir;
    plat::avi::StreamFormat format;
    format.format = bitmapFormat(8, 4, 24, 0);
    {
        auto writer = plat::avi::Writer::create(dir.file("good.avi"), format, options);
        for (std::uint32_t i = 0; i < 3; ++i) writer->append(patternFrame(kFrameBytes, i));
    }
    return readFile(dir.file("good.avi"));
}

// Opens, reads and decodes everything; returns the frame count, or -1 when
// the open failed. Every frame read is a whole stored frame.
long exercise(const std::vector<std::uint8_t> &bytes) {
    auto reader = plat::avi::Reader::openMemory(bytes);
    if (!reader) return -1;
    std::vector<std::uint8_t> frame, dib;
    for (std::size_t i = 0; i < reader->frameCount(); ++i) {
        EXPECT_TRUE(reader->readFrame(i, frame));
        EXPECT_LE(frame.size(), bytes.size());
        if (reader->decodeToDib24(i, dib)) {
            EXPECT_EQ(dib.size(), 40 + plat::avi::dib24Stride(reader->width()) * reader->height());
        }
    }
    return long(reader->frameCount());
}

TEST(HostileFile, EveryTruncationGivesOnlyWholeFramesInOrder) {
    for (const bool manyRiffs : {false, true}) {
        plat::avi::WriterOptions options;
        if (manyRiffs) {
            options.riffLimit = 1200;
            options.superIndexEntries = 8;
        }
        const auto good = goodFile(options);
        std::size_t previous = 0;
        for (std::size_t n = 0; n <= good.size(); ++n) {
            const std::vector<std::uint8_t> cut(good.begin(), good.begin() + long(n));
            auto reader = plat::avi::Reader::openMemory(cut);
            const std::size_t count = reader ? reader->frameCount() : 0;
            EXPECT_GE(count, previous) << "a longer file lost a frame at " << n;
            previous = count;
            std::vector<std::uint8_t> frame;
            for (std::size_t i = 0; i < count; ++i) {
                ASSERT_TRUE(reader->readFrame(i, frame));
                EXPECT_EQ(frame, patternFrame(kFrameBytes, std::uint32_t(i))) << "cut at " << n;
            }
        }
        EXPECT_EQ(previous, 3u);
    }
}

TEST(HostileFile, LyingFieldsGiveAFailedOpenOrTrueFrames) {
    const auto good = goodFile();
    const std::size_t strf = findId(good, "strf") + 8, strh = findId(good, "strh") + 8;
    const std::size_t movi = findId(good, "movi"), frame1 = findId(good, "00db", findId(good, "00db") + 8);
    const std::size_t hdrl = findId(good, "hdrl");
    struct Case {
        const char *what;
        std::size_t pos;
        std::uint32_t value;
        long frames;     // -1: the open fails
        bool decodable;  // frame 0 decodes
    } cases[] = {
        {"RIFF size 0 (a crash before the first patch)", 4, 0, 3, true},
        {"RIFF size past the end", 4, 0xFFFFFFF0u, 3, true},
        {"movi size 0", movi - 4, 0, 3, true},
        {"movi size past the end", movi - 4, 0xFFFFFFFFu, 3, true},
        {"hdrl size past the end", hdrl - 4, 0xFFFFFFF0u, -1, false},
        {"hdrl size 4: no streams", hdrl - 4, 4, -1, false},
        {"frame 1 size past the end", frame1 + 4, 0x7FFFFFF0u, 1, true},
        {"frame 1 id garbage", frame1, 0x01020304u, 1, true},
        {"frame 1 of stream 1", frame1, plat::avi::fourcc('0', '1', 'd', 'b'), 2, true},
        {"strf shorter than a header", strf - 4, 39, -1, false},
        {"strf size past the end", strf - 4, 0xFFFFFFF0u, 3, true},
        {"biSize larger than strf", strf, 400, -1, false},
        {"biWidth negative", strf + 4, 0xFFFFFFF8u, -1, false},
        {"biWidth 2^31-1", strf + 4, 0x7FFFFFFFu, -1, false},
        {"biHeight INT_MIN", strf + 8, 0x80000000u, -1, false},
        {"image larger than the frames", strf + 4, 30000, 3, false},
        {"16-bit RGB", strf + 14, 16, 3, false},
        {"unknown compression", strf + 16, plat::avi::fourcc('M', 'J', 'P', 'G'), 3, false},
        {"an audio stream only", strh, plat::avi::fourcc('a', 'u', 'd', 's'), -1, false},
        {"not an AVI", 8, plat::avi::fourcc('W', 'A', 'V', 'E'), -1, false},
    };
    for (const auto &c : cases) {
        auto bytes = good;
        plat::avi::put32(&bytes[c.pos], c.value);
        EXPECT_EQ(exercise(bytes), c.frames) << c.what;
        auto reader = plat::avi::Reader::openMemory(bytes);
        std::vector<std::uint8_t> dib;
        EXPECT_EQ(reader && reader->decodeToDib24(0, dib), c.decodable) << c.what;
    }
}

TEST(HostileFile, FramesInsideRecListsAndAfterJunkAreFound) {
    // RIFF AVI { hdrl from a good file, LIST movi { JUNK, LIST rec { 00db }, ix00, 00dc } }.
    const auto good = goodFile();
    const std::size_t movi = findId(good, "movi") - 8;
    std::vector<std::uint8_t> bytes(good.begin(), good.begin() + long(movi));
    auto chunk = [&](const char *id, const std::vector<std::uint8_t> &data) {
        bytes.insert(bytes.end(), id, id + 4);
        std::uint8_t size[4];
        plat::avi::put32(size, std::uint32_t(data.size()));
        bytes.insert(bytes.end(), size, size + 4);
        bytes.insert(bytes.end(), data.begin(), data.end());
        if (data.size() & 1) bytes.push_back(0);
    };
    const std::size_t moviStart = bytes.size();
    chunk("LIST", {'m', 'o', 'v', 'i'});
    chunk("JUNK", std::vector<std::uint8_t>(7, 0));
    chunk("00db", {});  // zero-size: a dropped frame, not a frame
    const std::size_t rec = bytes.size();
    chunk("LIST", {'r', 'e', 'c', ' '});
    chunk("00db", patternFrame(kFrameBytes, 0));
    plat::avi::put32(&bytes[rec + 4], std::uint32_t(bytes.size() - rec - 8));
    chunk("ix00", std::vector<std::uint8_t>(32, 0));
    chunk("00dc", patternFrame(kFrameBytes, 1));
    plat::avi::put32(&bytes[moviStart + 4], std::uint32_t(bytes.size() - moviStart - 8));
    plat::avi::put32(&bytes[4], std::uint32_t(bytes.size() - 8));
    auto reader = plat::avi::Reader::openMemory(bytes);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->frameCount(), 2u);
    std::vector<std::uint8_t> frame;
    for (std::uint32_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(reader->readFrame(i, frame));
        EXPECT_EQ(frame, patternFrame(kFrameBytes, i));
    }
}

// Inputs that once made the reader fail (found by the fuzzer or by hand),
// kept as regression cases, and the fuzzer's starting inputs.
TEST(HostileFile, CorpusOfFormerFailures) {
    std::size_t files = 0;
    for (const std::filesystem::path dir : {NOCTIL_AVI_CORPUS, NOCTIL_AVI_INPUTS})
        for (const auto &entry : std::filesystem::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().filename() == "README.md") continue;
            ++files;
            const auto bytes = readFile(entry.path());
            const long frames = exercise(bytes);
            // A frame takes at least 9 bytes of the file (header and one byte).
            EXPECT_LE(frames * 9, long(bytes.size())) << entry.path();
        }
    EXPECT_GT(files, 0u) << "the corpus is empty";
}

}  // namespace
