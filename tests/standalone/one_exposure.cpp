// One exposure in a process with no window system, no display and no
// platform session: the port, the simulated camera and the camera's protocol
// made from a clock and notices of the test's own, driven by the exposure
// engine. The port's writes are checked against the protocol's table, and
// the image read out must carry the integrated sky, brighter than a live
// frame of the same camera.
#include <gtest/gtest.h>
#include <camport.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "avicap/simcam.h"
#include "core/clock.h"
#include "core/notices.h"
#include "engine/exposure_engine.h"
#include "port/parallel_port.h"

namespace {

using plat::Micros;

constexpr Micros kMs = 1000;

// A port write relative to the exposure's start.
struct ExpectedWrite {
    Micros at;
    std::uint8_t level;
};

struct ExposureCase {
    const char *name;
    std::size_t format;  // index among the simulated camera's formats
    plat::engine::ExposureSettings settings;
    std::vector<ExpectedWrite> writes;
    Micros exposure, ampOff;  // as the port's log measured them
};

// Frames come every 33 ms from the stream's start; the first ends the
// integration. 480 lines are read field by field: the second pass's level
// follows the third frame.
// clang-format off
const ExposureCase kCases[] = {
    {"amplifier off, 640 x 480 fields", 0, {10000, true},
     {{0, PORT_EXPOSE_AMPOFF}, {9000 * kMs, PORT_EXPOSE}, {10000 * kMs, PORT_READOUT_480},
      {10000 * kMs + 2 * 33000, PORT_READOUT}, {10000 * kMs + 4 * 33000, PORT_IDLE}},
     10000 * kMs, 9000 * kMs},
    {"amplifier on, 320 x 240 whole frames", 2, {3000, false},
     {{0, PORT_EXPOSE}, {3000 * kMs, PORT_READOUT}, {3000 * kMs + 2 * 33000, PORT_IDLE}},
     3000 * kMs, 0},
    {"amplifier off but short, 720 x 576 fields", 4, {1500, true},
     {{0, PORT_EXPOSE}, {1500 * kMs, PORT_READOUT_480},
      {1500 * kMs + 2 * 33000, PORT_READOUT}, {1500 * kMs + 4 * 33000, PORT_IDLE}},
     1500 * kMs, 0},
};
// clang-format on

void PrintTo(const ExposureCase &c, std::ostream *os) { *os << c.name; }

double meanLevel(const std::vector<std::uint8_t> &frame)
{
    return std::accumulate(frame.begin(), frame.end(), 0.0) / static_cast<double>(frame.size());
}

class OneExposure : public ::testing::TestWithParam<ExposureCase> {
protected:
    plat::VirtualClock clock;
    plat::Notices notices;
    plat::ParallelPort port{clock, notices, plat::makeSimulatedPortBackend()};
};

TEST_P(OneExposure, WritesTheProtocolsLevelsAndReadsOutTheIntegratedSky)
{
    const ExposureCase &c = GetParam();
    auto camera = plat::avicap::makeSimulatedCamera(clock, port);
    ASSERT_TRUE(camera->open());
    ASSERT_TRUE(camera->selectFormat(c.format));

    // A live frame first: the camera's own video, a thirtieth of a second.
    std::vector<std::uint8_t> live(plat::avicap::frameBytes(camera->format()));
    clock.sleepUntil(clock.now() + 100 * kMs);
    ASSERT_EQ(camera->grabFrame(live), live.size());

    plat::engine::ExposureEngine engine(clock, port, *camera);
    const Micros start = clock.now();
    const std::size_t writesBefore = port.writes().size();
    const plat::engine::Exposure image = engine.expose(c.settings);

    ASSERT_TRUE(image.imageChosen) << image.failure;
    const std::span<const plat::PortWrite> writes = port.writes().subspan(writesBefore);
    ASSERT_EQ(writes.size(), c.writes.size());
    for (std::size_t i = 0; i < c.writes.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "write " << i);
        EXPECT_EQ(writes[i].address, CAMERA_PORT_ADDRESS);
        EXPECT_EQ(writes[i].time - start, c.writes[i].at);
        EXPECT_EQ(writes[i].value, c.writes[i].level);
    }
    ASSERT_TRUE(image.measured);
    EXPECT_EQ(image.measured->end - image.measured->start, c.exposure);
    EXPECT_EQ(image.measured->ampOff, c.ampOff);
    EXPECT_TRUE(notices.take() == std::nullopt) << "the simulated port failed";

    EXPECT_EQ(image.format.biWidth, camera->format().biWidth);
    ASSERT_EQ(image.image.size(), live.size());
    // Seconds of sky against a thirtieth of a second: the image is brighter
    // all over, not in a few stars (the sky adds some 5 levels a second).
    EXPECT_GT(meanLevel(image.image), meanLevel(live) + 5) << "live " << meanLevel(live);
}

INSTANTIATE_TEST_SUITE_P(SimulatedCamera, OneExposure, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::to_string(info.index); });

// A device that gives no frames: it does not start its stream, or its
// stream has nothing before the readout's time limit.
class SilentDevice final : public plat::avicap::Driver {
public:
    SilentDevice(plat::Clock &clock, bool streams) : clock_(clock), streams_(streams) {}
    std::string description() const override { return "silent device"; }
    std::string version() const override { return "1"; }
    bool open() override { return true; }
    void close() override {}
    plat::avicap::DriverCaps caps() const override { return {}; }
    std::span<const BITMAPINFOHEADER> formats() const override { return {&format_, 1}; }
    std::size_t formatIndex() const override { return 0; }
    bool selectFormat(std::size_t index) override { return index == 0; }
    bool startStream(plat::Micros) override { return streams_; }
    plat::avicap::FrameWait nextFrame(std::optional<plat::Micros> deadline, std::span<std::uint8_t>) override
    {
        clock_.sleepUntil(*deadline);
        return {plat::avicap::FrameWait::Outcome::TimedOut, 0};
    }
    void endStream() override {}
    std::size_t grabFrame(std::span<std::uint8_t>) override { return 0; }
    std::string failure() const override { return streams_ ? "" : "unplugged"; }

private:
    plat::Clock &clock_;
    bool streams_;
    BITMAPINFOHEADER format_ = plat::avicap::makeFormat(320, 240, 24, BI_RGB);
};

struct SilentCase {
    const char *name;
    bool streams;
    Micros restAt;       // when the lines went back to rest, from the start
    const char *reason;  // within the failure's words
};

// clang-format off
const SilentCase kSilent[] = {
    {"no stream",            false, 2000 * kMs,        "did not stream: unplugged"},
    {"no frame in the limit", true, 2000 * kMs + 2000 * kMs, "no frame"},
};
// clang-format on

TEST(OneExposureFailure, ADeviceWithoutFramesGivesNoImageAndRestsTheLines)
{
    for (const SilentCase &c : kSilent) {
        SCOPED_TRACE(c.name);
        plat::VirtualClock clock;
        plat::Notices notices;
        plat::ParallelPort port(clock, notices, plat::makeSimulatedPortBackend());
        SilentDevice device(clock, c.streams);
        plat::engine::ExposureEngine engine(clock, port, device);
        const plat::engine::Exposure image = engine.expose({2000, false});
        EXPECT_FALSE(image.imageChosen);
        EXPECT_NE(image.failure.find(c.reason), std::string::npos) << image.failure;
        EXPECT_EQ(image.readoutFrames, 0u);
        ASSERT_FALSE(port.writes().empty());
        EXPECT_EQ(port.writes().back().value, PORT_IDLE);
        EXPECT_EQ(port.writes().back().time, c.restAt);
        // The log shows the integration ended by the rest.
        ASSERT_TRUE(image.measured);
        EXPECT_EQ(image.measured->end, c.restAt);
    }
}

}  // namespace
