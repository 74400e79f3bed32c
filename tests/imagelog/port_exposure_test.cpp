// How the image log reads an exposure out of the port's writes, and what it
// makes of the readout stream, with times as the virtual clock gives them.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "avicap/driver.h"
#include "core/utc.h"
#include "imagelog/image_log.h"
#include "observers/image_facts.h"
#include "port/port_exposure.h"

namespace {

using plat::Micros;
using plat::PortExposure;
using plat::PortWrite;

constexpr std::uint16_t kData = 0x378;

struct ExposureCase {
    const char *what;
    std::vector<PortWrite> writes;
    std::optional<PortExposure> expected;
};

TEST(PortExposure, TheLastEndedIntegrationWithItsAmplifierOffTime) {
    const ExposureCase cases[] = {
        {"amplifier on throughout",
         {{0, kData, 0x00},
          {500, kData, 0x0B},
          {2'000'500, kData, 0x09},
          {2'033'500, kData, 0x08},
          {2'099'500, kData, 0x00}},
         PortExposure{500, 2'000'500, 0}},
        {"amplifier off but for the last second",
         {{100, kData, 0x0F}, {2'000'100, kData, 0x0B}, {3'000'100, kData, 0x08}, {3'066'100, kData, 0x00}},
         PortExposure{100, 3'000'100, 2'000'000}},
        {"the last of two exposures",
         {{0, kData, 0x0B},
          {10, kData, 0x08},
          {20, kData, 0x00},
          {30, kData, 0x0F},
          {45, kData, 0x0B},
          {50, kData, 0x08}},
         PortExposure{30, 50, 15}},
        {"stopped during the exposure: idle ends it",
         {{7, kData, 0x0F}, {1'007, kData, 0x00}},
         PortExposure{7, 1'007, 1'000}},
        {"writes to other addresses are not the camera's lines",
         {{0, kData, 0x0B}, {5, 0x37A, 0x00}, {9, 0x379, 0x0F}, {12, kData, 0x08}},
         PortExposure{0, 12, 0}},
        {"an exposure still running has not ended",
         {{0, kData, 0x0B}, {5, kData, 0x08}, {9, kData, 0x0B}},
         PortExposure{0, 5, 0}},
        {"the only exposure still running", {{0, kData, 0x00}, {9, kData, 0x0F}}, std::nullopt},
        {"no exposure at all", {{0, kData, 0x00}, {9, kData, 0x08}}, std::nullopt},
        {"nothing written", {}, std::nullopt},
        {"the log begins inside an exposure", {{40, kData, 0x0B}, {90, kData, 0x08}}, PortExposure{40, 90, 0}},
    };
    for (const ExposureCase &c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<PortExposure> got = plat::lastExposure(c.writes);
        ASSERT_EQ(got.has_value(), c.expected.has_value());
        if (!got) continue;
        EXPECT_EQ(got->start, c.expected->start);
        EXPECT_EQ(got->end, c.expected->end);
        EXPECT_EQ(got->ampOff, c.expected->ampOff);
    }
}

// The system slept during an exposure: the camera went on integrating, so
// the exposure counts the suspension and begins that much earlier.
TEST(PortExposure, CountsTheSuspensionWithinIt) {
    const ExposureCase cases[] = {
        {"suspended during the exposure",
         {{0, kData, 0x0B, true, 0}, {1'000'000, kData, 0x08, true, 60'000'000}},
         PortExposure{-60'000'000, 1'000'000, 0, 60'000'000}},
        {"suspended during the amplifier-off part",
         {{0, kData, 0x0F, true, 0}, {1'000, kData, 0x0B, true, 30'000'000}, {2'000, kData, 0x08, true, 30'000'000}},
         PortExposure{-30'000'000, 2'000, 1'000, 30'000'000}},
        {"suspended before it",
         {{0, kData, 0x00, true, 0}, {10, kData, 0x0B, true, 5'000'000}, {20, kData, 0x08, true, 5'000'000}},
         PortExposure{10, 20, 0, 0}},
        {"suspended after it",
         {{0, kData, 0x0B, true, 0}, {10, kData, 0x08, true, 0}, {20, kData, 0x00, true, 9'000'000}},
         PortExposure{0, 10, 0, 0}},
        {"the two clocks read a moment apart", {{0, kData, 0x0B, true, 0}, {10, kData, 0x08, true, 999}},
         PortExposure{0, 10, 0, 0}},
    };
    for (const ExposureCase &c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<PortExposure> got = plat::lastExposure(c.writes);
        ASSERT_TRUE(got);
        EXPECT_EQ(got->start, c.expected->start);
        EXPECT_EQ(got->end, c.expected->end);
        EXPECT_EQ(got->ampOff, c.expected->ampOff);
        EXPECT_EQ(got->suspended, c.expected->suspended);
    }
}

TEST(FrameFormatText, SizeAndKind) {
    EXPECT_EQ(plat::imagelog::describeFrameFormat(plat::avicap::makeFormat(640, 480, 24, BI_RGB)), "640x480 RGB24");
    EXPECT_EQ(plat::imagelog::describeFrameFormat(plat::avicap::makeFormat(720, 576, 16, plat::avicap::kFourccYUY2)),
              "720x576 YUY2");
    BITMAPINFOHEADER topDown = plat::avicap::makeFormat(320, 240, 32, BI_RGB);
    topDown.biHeight = -240;
    EXPECT_EQ(plat::imagelog::describeFrameFormat(topDown), "320x240 RGB32");
    BITMAPINFOHEADER odd{};
    odd.biWidth = 8;
    odd.biHeight = 2;
    odd.biCompression = 0x01020341;  // 'A' then bytes that are no letters
    EXPECT_EQ(plat::imagelog::describeFrameFormat(odd), "8x2 A???");
}

plat::avicap::StreamRecord readoutRecord(Micros start, std::uint32_t frames, Micros interval) {
    plat::avicap::StreamRecord r;
    r.seen = true;
    std::snprintf(r.driver, sizeof r.driver, "%s", "Test camera");
    r.format = plat::avicap::makeFormat(320, 240, 24, BI_RGB);
    r.start = start;
    r.frames = frames;
    r.first = start;
    r.last = start + (frames - 1) * interval;
    return r;
}

TEST(ComposedLine, ExposureAndReadoutInUtc) {
    const std::vector<PortWrite> writes = {
        {500'000, kData, 0x0F}, {1'500'000, kData, 0x0B}, {2'500'000, kData, 0x08}, {2'566'000, kData, 0x00}};
    const plat::UtcMicros origin = plat::kVirtualClockUtcOrigin;
    const plat::imagelog::LogLine line =
        plat::observers::composeLine(4, writes, readoutRecord(2'500'000, 3, 33'000), origin);
    EXPECT_EQ(plat::imagelog::formatLine(line),
              "4\t2000-01-01T00:00:00.500000\t2000-01-01T00:00:02.500000\t2.000000\t1.000000\t"
              "2000-01-01T00:00:02.500000\t2000-01-01T00:00:02.566000\t3\tTest camera\t320x240 RGB24\t0.000000\n");
}

TEST(ComposedLine, AReadoutOlderThanTheExposureIsNotItsReadout) {
    const std::vector<PortWrite> writes = {{5'000'000, kData, 0x0B}, {7'000'000, kData, 0x08}};
    const plat::imagelog::LogLine stale =
        plat::observers::composeLine(2, writes, readoutRecord(1'000'000, 3, 33'000), 0);
    EXPECT_TRUE(stale.exposeStart.has_value());
    EXPECT_FALSE(stale.readoutFirst.has_value());
    EXPECT_EQ(stale.driver, "");
    const plat::imagelog::LogLine none = plat::observers::composeLine(2, writes, plat::avicap::StreamRecord{}, 0);
    EXPECT_FALSE(none.readoutFirst.has_value());
}

}  // namespace
