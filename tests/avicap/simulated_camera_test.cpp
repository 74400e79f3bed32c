// The simulated camera honours the camera port: exposures driven on the
// port over the virtual clock, read back through the video-stream callback
// the way the program's readout does.
#include <camport.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <string>
#include <utility>

#include "avicap/device_settings.h"
#include "avicap/installed_simcam.h"
#include "avicap/simcam.h"
#include "capture_fixture.h"
#include "port/parallel_port.h"

namespace {

using plat::avicap::kFourccYUY2;
using plat::avicap::makeFormat;

constexpr std::uint8_t kIdle = PORT_IDLE, kExpose = PORT_EXPOSE, kExposeAmpOff = PORT_EXPOSE_AMPOFF,
                       kReadout = PORT_READOUT, kReadout480 = PORT_READOUT_480;

// One frame's brightness, a byte per pixel in memory row order.
struct Luma {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;

    std::uint8_t at(int x, int row) const { return pixels[static_cast<std::size_t>(row * width + x)]; }

    // Median over the rows whose parity is given (-1: all rows).
    double median(int parity = -1) const {
        std::vector<std::uint8_t> v;
        for (int r = 0; r < height; ++r)
            if (parity < 0 || r % 2 == parity)
                v.insert(v.end(), pixels.begin() + r * width, pixels.begin() + (r + 1) * width);
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    }
    double mean() const {
        return std::accumulate(pixels.begin(), pixels.end(), 0.0) / static_cast<double>(pixels.size());
    }
    double boxMean(int x0, int row0, int size) const {
        double sum = 0;
        for (int r = row0; r < row0 + size; ++r)
            for (int x = x0; x < x0 + size; ++x) sum += at(x, r);
        return sum / (size * size);
    }
    std::size_t countAbove(int level) const {
        return static_cast<std::size_t>(
            std::count_if(pixels.begin(), pixels.end(), [&](std::uint8_t p) { return p > level; }));
    }
};

class SimulatedCameraTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        window_ = makeCaptureWindow();
        ASSERT_TRUE(SendMessageA(window_, WM_CAP_DRIVER_CONNECT, 0, 0)) << "the simulated camera is driver 0";
        setStreaming(window_, 33000, 2);
        SendMessageA(window_, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    }

    void useFormat(int width, int height, DWORD compression) {
        BITMAPINFOHEADER f = makeFormat(width, height, compression == BI_RGB ? 24 : 16, compression);
        ASSERT_TRUE(SendMessageA(window_, WM_CAP_SET_VIDEOFORMAT, sizeof f, reinterpret_cast<LPARAM>(&f)));
        format_ = f;
    }

    void port(std::uint8_t value) { plat::session().component<plat::ParallelPort>().write(0x378, value); }
    void wait(plat::Micros micros) { plat::session().clock().sleepUntil(now() + micros); }

    Luma luma(const VIDEOHDR &h) const {
        Luma l;
        l.width = format_.biWidth;
        l.height = std::abs(format_.biHeight);
        const std::size_t stride = h.dwBufferLength / static_cast<std::size_t>(l.height);
        const int step = format_.biCompression == BI_RGB ? 3 : 2;
        for (int r = 0; r < l.height; ++r)
            for (int x = 0; x < l.width; ++x)
                l.pixels.push_back(h.lpData[r * stride + static_cast<std::size_t>(x * step)]);
        return l;
    }

    // Streams `frames` frames; before frame n is used, `levels[n]` (when
    // there is one, non-negative) goes to the port, as the program's readout
    // callback writes its levels. Returns every frame's brightness.
    std::vector<Luma> stream(int frames, std::map<int, int> levels = {}) {
        StreamRecorder rec;
        std::vector<Luma> out;
        rec.onFrame = [&](HWND window, VIDEOHDR &header) {
            out.push_back(luma(header));
            const int n = static_cast<int>(rec.deliveries.size());
            if (levels.count(n)) port(static_cast<std::uint8_t>(levels[n]));
            if (n == frames) SendMessageA(window, WM_CAP_STOP, 0, 0);
        };
        SendMessageA(window_, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        return out;
    }

    // One exposure as the program runs it: integrate, stream, the readout
    // level on the first frame, idle after the stream. Returns frames 1-3.
    std::vector<Luma> exposure(plat::Micros ampOffMicros, plat::Micros ampOnMicros) {
        if (ampOffMicros) {
            port(kExposeAmpOff);
            wait(ampOffMicros);
        }
        port(kExpose);
        wait(ampOnMicros);
        std::vector<Luma> frames = stream(3, {{1, kReadout}});
        port(kIdle);
        return frames;
    }

    HWND window_ = nullptr;
    BITMAPINFOHEADER format_ = makeFormat(640, 480, 24, BI_RGB);
};

TEST_F(SimulatedCameraTest, ChargeAfterTheReadoutLevelGrowsWithExposureTimeAndLiveFramesCarryNone) {
    for (DWORD compression : {DWORD{BI_RGB}, kFourccYUY2}) {
        SCOPED_TRACE(compression == BI_RGB ? "RGB" : "YUY2");
        useFormat(320, 240, compression);
        const double live = stream(1)[0].median();
        const std::vector<Luma> two = exposure(0, 2000000);
        const std::vector<Luma> four = exposure(0, 4000000);

        EXPECT_NEAR(two[0].median(), live, 1) << "the sensor integrates: the video is dark meanwhile";
        EXPECT_NEAR(two[2].median(), live, 1) << "the frame after the charge is live again";
        const double signal2 = two[1].median() - live, signal4 = four[1].median() - live;
        EXPECT_GE(signal2, 4);
        EXPECT_NEAR(signal4 / signal2, 2.0, 0.25) << "2 s: " << signal2 << ", 4 s: " << signal4;
        EXPECT_GT(four[1].countAbove(static_cast<int>(live) + 20),
                  4 * stream(1)[0].countAbove(static_cast<int>(live) + 20) + 50)
            << "a long exposure shows far more than live video";
    }
}

TEST_F(SimulatedCameraTest, LiveVideoShowsOnlyTheBrightStars) {
    useFormat(640, 480, BI_RGB);
    const Luma live = stream(1)[0];
    EXPECT_GE(*std::max_element(live.pixels.begin(), live.pixels.end()), 150) << "bright stars show live";
    EXPECT_LT(live.countAbove(static_cast<int>(live.median()) + 20), live.pixels.size() / 500);
}

TEST_F(SimulatedCameraTest, GlowBuildsOnlyWhileTheAmplifierIsOn) {
    useFormat(320, 240, BI_RGB);
    // The glowing corner is the last pixel of the scene, which a bottom-up
    // frame holds in its first row; the first scene corner has no glow.
    const auto glow = [](const Luma &l) { return l.boxMean(l.width - 16, 0, 16) - l.boxMean(0, l.height - 16, 16); };
    const std::vector<Luma> ampOn = exposure(0, 4000000);
    const std::vector<Luma> ampOff = exposure(3000000, 1000000);
    EXPECT_NEAR(ampOff[1].median(), ampOn[1].median(), 1) << "light integrates across the amplifier switch";
    EXPECT_GT(glow(ampOn[1]), 40);
    EXPECT_GT(glow(ampOn[1]), 2.5 * glow(ampOff[1])) << "on: " << glow(ampOn[1]) << ", off: " << glow(ampOff[1]);
}

// The camera reads its charge out one field per readout pass on interlaced
// video of either line count: NTSC's 480 and PAL's 576.
TEST_F(SimulatedCameraTest, OnInterlacedVideoEachReadoutLevelReleasesOneField) {
    for (const auto &[width, height] : {std::pair{640, 480}, std::pair{720, 576}}) {
        SCOPED_TRACE(std::to_string(height) + " lines");
        useFormat(width, height, BI_RGB);
        const double live = stream(1)[0].median();
        port(kExpose);
        wait(4000000);
        // The program's field mode: 0x09 on frame 1, 0x08 on frame 3.
        const std::vector<Luma> f = stream(5, {{1, kReadout480}, {3, kReadout}});
        port(kIdle);
        ASSERT_EQ(f.size(), 5u);
        struct Expect {
            int frame;
            bool oddCharged, evenCharged;
        };
        for (const Expect &e : {Expect{0, false, false}, Expect{1, true, false}, Expect{2, false, false},
                                Expect{3, false, true}, Expect{4, false, false}}) {
            EXPECT_EQ(f[e.frame].median(1) > live + 8, e.oddCharged) << "odd rows of frame " << e.frame + 1;
            EXPECT_EQ(f[e.frame].median(0) > live + 8, e.evenCharged) << "even rows of frame " << e.frame + 1;
        }

        // The two fields together are the image a whole-frame readout gives.
        port(kExpose);
        wait(4000000);
        const std::vector<Luma> whole = stream(3, {{1, kReadout}});
        port(kIdle);
        EXPECT_NEAR(f[1].median(1), whole[1].median(1), 1);
        EXPECT_NEAR(f[3].median(0), whole[1].median(0), 1);
    }
}

TEST_F(SimulatedCameraTest, OtherHeightsReleaseTheWholeFrameOnEitherReadoutLevel) {
    useFormat(320, 240, kFourccYUY2);
    const double live = stream(1)[0].median();
    port(kExpose);
    wait(3000000);
    const std::vector<Luma> f = stream(3, {{1, kReadout480}});
    port(kIdle);
    EXPECT_GT(f[1].median(0), live + 5);
    EXPECT_GT(f[1].median(1), live + 5);
}

TEST_F(SimulatedCameraTest, AnIdlePortBetweenExposureAndReadoutLosesTheCharge) {
    useFormat(320, 240, BI_RGB);
    const double live = stream(1)[0].median();
    port(kExpose);
    wait(4000000);
    port(kIdle);
    const std::vector<Luma> f = stream(3, {{1, kReadout}});
    EXPECT_NEAR(f[1].median(), live, 1);
}

TEST_F(SimulatedCameraTest, FramesAreTheSameOnEveryRunAndNoiseDiffersFromFrameToFrame) {
    useFormat(320, 240, BI_RGB);
    const std::vector<Luma> first = stream(2);
    ASSERT_TRUE(SendMessageA(window_, WM_CAP_DRIVER_CONNECT, 0, 0));
    useFormat(320, 240, BI_RGB);
    const std::vector<Luma> again = stream(2);
    EXPECT_EQ(first[0].pixels, again[0].pixels);
    EXPECT_EQ(first[1].pixels, again[1].pixels);
    EXPECT_NE(first[0].pixels, first[1].pixels);
}

TEST_F(SimulatedCameraTest, OffersNtscPalAndSmallSizesInRgbAndYuy2) {
    CAPDRIVERCAPS caps{};
    SendMessageA(window_, WM_CAP_DRIVER_GET_CAPS, sizeof caps, reinterpret_cast<LPARAM>(&caps));
    EXPECT_TRUE(caps.fHasDlgVideoSource && caps.fHasDlgVideoFormat);
    EXPECT_FALSE(caps.fHasOverlay);
    EXPECT_EQ(status(window_).uiImageHeight, 480u) << "starts at 480 lines";
    struct Case {
        int width, height;
        DWORD compression;
        std::size_t bytes;
    };
    for (const Case &c :
         {Case{640, 480, BI_RGB, 921600}, Case{640, 480, kFourccYUY2, 614400}, Case{320, 240, BI_RGB, 230400},
          Case{320, 240, kFourccYUY2, 153600}, Case{720, 576, BI_RGB, 1244160}, Case{720, 576, kFourccYUY2, 829440}}) {
        useFormat(c.width, c.height, c.compression);
        EXPECT_EQ(status(window_).uiImageWidth, static_cast<UINT>(c.width));
        StreamRecorder rec;
        rec.onFrame = [](HWND window, VIDEOHDR &) { SendMessageA(window, WM_CAP_STOP, 0, 0); };
        SendMessageA(window_, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        ASSERT_EQ(rec.deliveries.size(), 1u);
        EXPECT_EQ(rec.deliveries[0].bufferLength, c.bytes) << c.width << "x" << c.height;
        if (c.compression == kFourccYUY2) {
            EXPECT_EQ(rec.deliveries[0].data[1], 128) << "no colour";
        }
    }
    BITMAPINFOHEADER unknown = makeFormat(768, 576, 24, BI_RGB);
    EXPECT_FALSE(SendMessageA(window_, WM_CAP_SET_VIDEOFORMAT, sizeof unknown, reinterpret_cast<LPARAM>(&unknown)));
}

// The camera made for a process with no window system has no dialogs; the
// one the driver list installs has both, and reads the gain and sky the
// user chose last.
TEST_F(CaptureTest, TheSimulatedCamerasDialogsComeWithTheDriverList) {
    ASSERT_TRUE(plat::avicap::saveDeviceSettings(plat::avicap::kSimulatedCameraDescription,
                                                 {{"gain percent", "250"}, {"sky number", "7"}}));
    plat::Clock &clock = plat::session().clock();
    plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
    struct Case {
        const char *name;
        std::unique_ptr<plat::avicap::ClockPacedDriver> camera;
        bool dialogs;
    };
    Case cases[] = {
        {"bare", plat::avicap::makeSimulatedCamera(clock, port), false},
        {"installed", plat::avicap::makeInstalledSimulatedCamera(clock, port), true},
    };
    // The same live frame from both only when both look at the same sky.
    std::vector<std::vector<std::uint8_t>> frames;
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.camera->caps().sourceDialog, c.dialogs);
        EXPECT_EQ(c.camera->caps().formatDialog, c.dialogs);
        EXPECT_EQ(c.camera->description(), plat::avicap::kSimulatedCameraDescription);
        ASSERT_TRUE(c.camera->open());
        frames.emplace_back(plat::avicap::frameBytes(c.camera->format()));
        EXPECT_EQ(c.camera->grabFrame(frames.back()), frames.back().size());
        c.camera->close();
    }
    EXPECT_NE(frames[0], frames[1]) << "the installed camera did not read the saved gain and sky";
}

}  // namespace
