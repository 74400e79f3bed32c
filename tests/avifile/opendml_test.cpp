// Files past 1 GiB go on in 'AVIX' RIFFs with standard indexes and a super
// index; ffprobe must count every frame of them, finished or cut off.
#include <gtest/gtest.h>

#include <fstream>

#include "avi_test_support.h"
#include "avifile/avi_reader.h"
#include "avifile/avi_writer.h"
#include "avifile/riff.h"

namespace {

using namespace avitest;

std::vector<std::uint8_t> fileHead(const std::filesystem::path &path, std::size_t n) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> v(n);
    in.read(reinterpret_cast<char *>(v.data()), std::streamsize(n));
    v.resize(std::size_t(in.gcount()));
    return v;
}

std::uint32_t stamp(const std::vector<std::uint8_t> &frame) { return le32(frame, 0); }

// Big frames (9 MiB) make a file just over 1 GiB quickly; it is deleted afterwards.
TEST(OpenDml, FileJustOver1GiBKeepsEveryFrame) {
    TempDir dir;
    const auto file = dir.file("big.avi");
    plat::avi::StreamFormat format;
    format.format = bitmapFormat(2048, 1536, 24, 0);
    std::vector<std::uint8_t> frame = patternFrame(2048 * 1536 * 3, 1);
    constexpr std::uint32_t kFrames = 116;  // 116 x 9 MiB = 1.02 GiB
    {
        auto writer = plat::avi::Writer::create(file, format);
        ASSERT_TRUE(writer);
        for (std::uint32_t i = 0; i < kFrames; ++i) {
            plat::avi::put32(frame.data(), i);
            ASSERT_TRUE(writer->append(frame)) << "frame " << i;
        }
        ASSERT_TRUE(writer->finish());
    }
    ASSERT_GT(std::filesystem::file_size(file), std::uint64_t(1) << 30);

    const auto head = fileHead(file, 65536);
    const std::size_t indx = findId(head, "indx"), odml = findId(head, "odml");
    ASSERT_NE(indx, std::string::npos) << "no super index";
    EXPECT_EQ(le32(head, indx + 8 + 4), 2u) << "super index entries: one per RIFF";
    ASSERT_NE(odml, std::string::npos);
    EXPECT_EQ(std::string(head.begin() + long(odml) - 8, head.begin() + long(odml) - 4), "LIST");
    EXPECT_EQ(le32(head, odml + 12), kFrames) << "dmlh total frames";
    const std::size_t avih = findId(head, "avih") + 8;
    EXPECT_LT(le32(head, avih + 16), kFrames) << "avih counts the first RIFF only";
    EXPECT_GT(le32(head, avih + 16), 100u);

    const Probe probe = ffprobe(file);
    EXPECT_EQ(probe.frames, long(kFrames));
    EXPECT_EQ(probe.width, 2048);
    EXPECT_EQ(probe.height, 1536);
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.messages, "");

    auto reader = plat::avi::Reader::open(file);
    ASSERT_TRUE(reader);
    ASSERT_EQ(reader->frameCount(), kFrames);
    std::vector<std::uint8_t> bytes;
    for (std::uint32_t i : {0u, 110u, 113u, 114u, kFrames - 1}) {
        ASSERT_TRUE(reader->readFrame(i, bytes));
        EXPECT_EQ(stamp(bytes), i);
    }
}

// The same structure in small: many RIFFs, finished, with non-key frames;
// every index entry points at its frame.
TEST(OpenDml, ManySmallRiffsFinishedWithFullIndexes) {
    TempDir dir;
    const auto file = dir.file("riffs.avi");
    plat::avi::StreamFormat format;
    format.format = bitmapFormat(20, 10, 24, 0);
    plat::avi::WriterOptions options;
    options.riffLimit = 4096;
    options.superIndexEntries = 32;
    constexpr std::uint32_t kFrames = 40;
    {
        auto writer = plat::avi::Writer::create(file, format, options);
        ASSERT_TRUE(writer);
        for (std::uint32_t i = 0; i < kFrames; ++i) ASSERT_TRUE(writer->append(patternFrame(600, i), i % 5 == 0));
    }  // the destructor finishes
    const auto bytes = readFile(file);
    const std::size_t indx = findId(bytes, "indx");
    ASSERT_NE(indx, std::string::npos);
    const std::uint32_t riffs = le32(bytes, indx + 12);
    EXPECT_GT(riffs, 5u);
    std::uint32_t indexed = 0;
    for (std::uint32_t r = 0; r < riffs; ++r) {
        const std::size_t entry = indx + 8 + 24 + 16 * r;
        const std::size_t ix = le32(bytes, entry);  // below 4 GiB here
        ASSERT_EQ(findId(bytes, "ix00", ix), ix) << "RIFF " << r;
        const std::uint32_t n = le32(bytes, ix + 12);
        EXPECT_EQ(n, le32(bytes, entry + 12)) << "duration of RIFF " << r;
        const std::uint64_t base = le32(bytes, ix + 20) | std::uint64_t(le32(bytes, ix + 24)) << 32;
        EXPECT_EQ(findId(bytes, "movi", base), base) << "base offset of RIFF " << r;
        for (std::uint32_t k = 0; k < n; ++k, ++indexed) {
            const std::size_t data = base + le32(bytes, ix + 32 + 8 * k);
            const std::uint32_t size = le32(bytes, ix + 36 + 8 * k);
            EXPECT_EQ((size & 0x80000000u) == 0, indexed % 5 == 0) << "key frame flag of frame " << indexed;
            EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + long(data), bytes.begin() + long(data) + 600),
                      patternFrame(600, indexed));
        }
    }
    EXPECT_EQ(indexed, kFrames);
    const Probe probe = ffprobe(file);
    EXPECT_EQ(probe.frames, long(kFrames));
    EXPECT_EQ(probe.messages, "");
}

}  // namespace
