// The driver's exposures on the platform's port and the simulated camera, on
// the virtual clock: the levels the port logs with their times, for each
// kind of exposure and readout and for an abort in each phase; what the
// outcome says of them; and the kept image as INDI sends it.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "avicap/simcam.h"
#include "files/paths.h"
#include "camera_engine.h"
#include "port/parallel_port.h"
#include "port_timeline.h"
#include "test_drivers.h"
#include "test_session.h"

namespace noctil::indi {
namespace {

using test::ExpectedPortWrite;

// The simulated camera's formats by their place in its list.
enum Format : std::size_t { Rgb640 = 0, Rgb320 = 2, Yuy2Of720x576 = 5 };

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        camera_ = plat::avicap::makeSimulatedCamera(clock(), port());
        ASSERT_TRUE(camera_->open());
        engine_ = std::make_unique<CameraEngine>(clock(), port(), *camera_, "simulated");
    }
    void TearDown() override {
        engine_.reset();
        camera_->close();
    }
    plat::Clock &clock() { return session_.session().clock(); }
    plat::ParallelPort &port() { return session_.session().component<plat::ParallelPort>(); }

    // One exposure; `abortAt` raises the abort when the engine tells that phase.
    ExposureOutcome expose(ExposureRequest request, std::optional<Phase> abortAt = std::nullopt) {
        AbortSignal abort;
        return engine_->expose(request, abort, [&](Phase phase) {
            if (phase == abortAt) abort.raise();
        });
    }

    test::TestSession session_;
    std::unique_ptr<plat::avicap::ClockPacedDriver> camera_;
    std::unique_ptr<CameraEngine> engine_;
};

struct ExposureCase {
    const char *name;
    Format format;
    plat::Micros length;
    bool amplifierOff;
    std::vector<ExpectedPortWrite> levels;  // from the exposure's first level on
    plat::Micros ampOff;
    int readoutFrames;
    int width, height;
};

// Frames come every 33 ms from the end of the integration: the readout level
// at the first, the image chosen on the third (whole frames) or the fifth
// (fields, the second pass at the third).
// clang-format off
const ExposureCase kExposures[] = {
    {"HalfASecondWholeFrames", Rgb320, 500'000, false,
     {{PORT_EXPOSE, 0}, {PORT_READOUT, 500}, {PORT_IDLE, 66}}, 0, 3, 320, 240},
    {"AmplifierOffButTheLastSecond", Rgb320, 2'500'000, true,
     {{PORT_EXPOSE_AMPOFF, 0}, {PORT_EXPOSE, 1500}, {PORT_READOUT, 1000}, {PORT_IDLE, 66}}, 1'500'000, 3, 320, 240},
    {"TwoSecondsKeepTheAmplifierOn", Rgb320, 2'000'000, true,
     {{PORT_EXPOSE, 0}, {PORT_READOUT, 2000}, {PORT_IDLE, 66}}, 0, 3, 320, 240},
    {"PalByFields", Yuy2Of720x576, 500'000, false,
     {{PORT_EXPOSE, 0}, {PORT_READOUT_480, 500}, {PORT_READOUT, 66}, {PORT_IDLE, 66}}, 0, 5, 720, 576},
    {"NtscSizeByFieldsFromOneMillisecond", Rgb640, 1'000, false,
     {{PORT_EXPOSE, 0}, {PORT_READOUT_480, 1}, {PORT_READOUT, 66}, {PORT_IDLE, 66}}, 0, 5, 640, 480},
};
// clang-format on

class EngineExposure : public EngineTest, public ::testing::WithParamInterface<ExposureCase> {};

TEST_P(EngineExposure, LevelsTimesAndTheImage) {
    const ExposureCase &c = GetParam();
    ASSERT_TRUE(engine_->selectFormat(c.format));
    EXPECT_EQ(engine_->formatIndex(), std::size_t(c.format));
    EXPECT_EQ(engine_->frameSize().width, c.width);
    EXPECT_EQ(engine_->frameSize().height, c.height);
    EXPECT_EQ(engine_->readout(), c.readoutFrames == 5 ? ReadoutMode::Fields : ReadoutMode::WholeFrame);
    const std::size_t from = test::cameraPortWrites().size();
    const plat::Micros start = clock().now();
    const ExposureOutcome o = expose({c.length, c.amplifierOff});

    EXPECT_TRUE(test::portTimelineMatches(c.levels, from, std::uint32_t(start / 1000), 0));
    ASSERT_EQ(o.end, ExposureOutcome::End::Image) << o.failure;
    EXPECT_EQ(o.exposeStart, start);
    EXPECT_EQ(o.exposure(), c.length) << "the virtual clock holds the level exactly";
    EXPECT_EQ(o.requested, c.length);
    EXPECT_EQ(o.ampOff, c.ampOff);
    EXPECT_EQ(o.readoutFrames, c.readoutFrames);
    EXPECT_EQ(o.readoutFrame, o.exposeEnd + (c.readoutFrames - 1) * 33'000);
    EXPECT_EQ(o.utcOffset, plat::kVirtualClockUtcOrigin);
    EXPECT_EQ(o.portBackend, "simulated");
    EXPECT_EQ(o.format, engine_->formats()[c.format]);
    EXPECT_EQ(o.image.width, c.width);
    EXPECT_EQ(o.image.height, c.height);
    EXPECT_EQ(o.image.planes, 1) << "the simulated camera is monochrome";
    EXPECT_EQ(o.image.samples.size(), std::size_t(c.width) * c.height);
}

INSTANTIATE_TEST_SUITE_P(Kinds, EngineExposure, ::testing::ValuesIn(kExposures),
                         [](const auto &info) { return std::string(info.param.name); });

struct AbortCase {
    const char *name;
    Phase at;
    std::vector<ExpectedPortWrite> levels;
};

// The abort rests the lines at once while they integrate, and when the
// readout's stream has ended during the readout; no image comes (whole
// frames).
// clang-format off
const AbortCase kAborts[] = {
    {"WhileIntegrating", Phase::Integrating, {{PORT_EXPOSE, 0}, {PORT_IDLE, 0}}},
    {"DuringTheReadout", Phase::ReadingOut,  {{PORT_EXPOSE, 0}, {PORT_READOUT, 3000}, {PORT_IDLE, 66}}},
};
// clang-format on

class EngineAbort : public EngineTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(EngineAbort, RestsTheLinesWithoutAnImage) {
    const AbortCase &c = GetParam();
    ASSERT_TRUE(camera_->selectFormat(Rgb320));
    const std::size_t from = test::cameraPortWrites().size();
    const plat::Micros start = clock().now();
    const ExposureOutcome o = expose({3'000'000, false}, c.at);
    EXPECT_EQ(o.end, ExposureOutcome::End::Aborted);
    EXPECT_TRUE(o.image.samples.empty());
    EXPECT_TRUE(test::portTimelineMatches(c.levels, from, std::uint32_t(start / 1000), 0));
}

INSTANTIATE_TEST_SUITE_P(Phases, EngineAbort, ::testing::ValuesIn(kAborts),
                         [](const auto &info) { return std::string(info.param.name); });

// Interlaced frames whose two fields are alike (a flat picture, as a test
// driver gives) hold no field of the camera's: the exposure fails with the
// field's words, no image, and the second pass is never read.
TEST(EngineFields, AFieldThatDidNotArriveFailsTheExposure) {
    test::TestSession session;
    plat::avicap::TestDriverPlan flat;
    flat.description = "Flat PAL camera";
    flat.formats = {plat::avicap::makeFormat(720, 576, 24, BI_RGB)};
    plat::avicap::registerTestDriver("flatcam", flat);
    std::ofstream(plat::windowsDirectory() / "system.ini", std::ios::binary) << "[drivers32]\r\nmsvideo=flatcam\r\n";
    const std::unique_ptr<plat::avicap::Driver> driver = plat::avicap::makeInstalledDriver(0);
    ASSERT_TRUE(driver && driver->open());
    CameraEngine engine(session.session().clock(), session.session().component<plat::ParallelPort>(), *driver,
                        "simulated");
    const std::size_t from = test::cameraPortWrites().size();
    const plat::Micros start = session.session().clock().now();
    AbortSignal abort;
    const ExposureOutcome o = engine.expose({500'000, false}, abort, [](Phase) {});
    EXPECT_EQ(o.end, ExposureOutcome::End::Failed);
    EXPECT_EQ(o.failure, "the odd field did not arrive in the readout stream");
    EXPECT_TRUE(o.image.samples.empty());
    const std::vector<ExpectedPortWrite> levels = {{PORT_EXPOSE, 0}, {PORT_READOUT_480, 500}, {PORT_IDLE, 66}};
    EXPECT_TRUE(test::portTimelineMatches(levels, from, std::uint32_t(start / 1000), 0));
    driver->close();
}

// Live video is the camera's frame now, in the format in use.
TEST_F(EngineTest, LiveVideoIsTheFrameNow) {
    ASSERT_TRUE(engine_->selectFormat(Rgb320));
    const std::size_t writes = test::cameraPortWrites().size();
    const Image image = engine_->liveImage();
    EXPECT_EQ(image.width, 320);
    EXPECT_EQ(image.height, 240);
    EXPECT_EQ(image.planes, 1);
    EXPECT_EQ(image.samples.size(), 320u * 240u);
    EXPECT_EQ(test::cameraPortWrites().size(), writes) << "live video leaves the lines alone";
}

// Frames of 2 x 2 pixels in the capture formats, and the image INDI gets.
struct ImageCase {
    const char *name;
    BITMAPINFOHEADER format;
    std::vector<std::uint8_t> frame;
    int planes;
    std::vector<std::uint8_t> samples;  // top row first; planes R, G, B
};

BITMAPINFOHEADER rgb24() { return plat::avicap::makeFormat(2, 2, 24, BI_RGB); }
BITMAPINFOHEADER yuy2() { return plat::avicap::makeFormat(2, 2, 16, plat::avicap::kFourccYUY2); }

// clang-format off
const ImageCase kImages[] = {
    // Bottom-up B,G,R rows padded to 8 bytes: bottom row a b, top row c d.
    {"GreyRgbIsOnePlane", rgb24(),
     {10, 10, 10, 20, 20, 20, 0, 0,   30, 30, 30, 40, 40, 40, 0, 0},
     1, {30, 40, 10, 20}},
    {"ColourRgbIsThreePlanes", rgb24(),
     {1, 2, 3, 4, 5, 6, 0, 0,   7, 8, 9, 10, 11, 12, 0, 0},
     3, {9, 12, 3, 6,   8, 11, 2, 5,   7, 10, 1, 4}},
    // Top-down Y0 U Y1 V: a grey camera's colour differences are 128.
    {"GreyYuy2IsOnePlane", yuy2(),
     {16, 128, 16, 128,   235, 128, 235, 128},
     1, {0, 0, 255, 255}},
};
// clang-format on

class KeptImage : public ::testing::TestWithParam<ImageCase> {};

TEST_P(KeptImage, AsIndiSendsIt) {
    const ImageCase &c = GetParam();
    const Image image = imageOf(c.format, c.frame);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.planes, c.planes);
    EXPECT_EQ(image.samples, c.samples);
}

INSTANTIATE_TEST_SUITE_P(Formats, KeptImage, ::testing::ValuesIn(kImages),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(KeptImageOf, AFormatTheDecoderDoesNotKnowGivesNone) {
    const BITMAPINFOHEADER mjpg = plat::avicap::makeFormat(2, 2, 24, 0x47504A4D);
    EXPECT_EQ(imageOf(mjpg, std::vector<std::uint8_t>(64)).width, 0);
}

}  // namespace
}  // namespace noctil::indi
