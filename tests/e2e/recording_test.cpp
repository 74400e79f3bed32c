// Recording on the simulated camera through the real program: the output
// file as outside readers see it, its images against the sky the camera
// integrated, the frames the readout callback receives, and a program ended
// in the middle of a run.
#include <commctrl.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "avi_test_support.h"
#include "avicap/driver_dialogs.h"
#include "avicap/simcam.h"
#include "core/session.h"
#include "dialog_user.h"
#include "e2e_fixture.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "port_timeline.h"
#include "user/window_system.h"

namespace noctil::e2e {
namespace {

using noctil::test::clickItem;
using noctil::test::findDialog;
using noctil::test::typeInto;

// The largest difference noise and rounding can make: the camera's read
// noise is bounded (four uniform bytes scaled to 1.5 levels: at most 5.18).
constexpr double kNoiseBound = 5.7;

struct Mode {
    const char *name;
    int width, height;
    bool chooseSmallFormat;  // through the driver's Video Format dialog
};
const Mode kModes[] = {{"FieldMode640x480", 640, 480, false}, {"WholeFrame320x240", 320, 240, true}};
void PrintTo(const Mode &m, std::ostream *os) { *os << m.name; }

// The simulated camera's format dialog button of 24-bit RGB at the size.
int formatButton(int width, int height) {
    auto camera =
        plat::avicap::makeSimulatedCamera(plat::session().clock(), plat::session().component<plat::ParallelPort>());
    const auto formats = camera->formats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        if (formats[i].biWidth == width && std::abs(formats[i].biHeight) == height &&
            formats[i].biCompression == BI_RGB)
            return plat::avicap::kFormatButtonFirst + static_cast<int>(i);
    return -1;
}

class RecordingTest : public EndToEndTest, public ::testing::WithParamInterface<Mode> {
protected:
    // Picks the mode's format through the Video Format dialog at `ms`.
    void chooseFormatAt(std::uint32_t ms) {
        if (!GetParam().chooseSmallFormat) return;
        user().at(ms, [this] { choose(IDM_VIDEOFORMAT); });
        user().at(ms + 100, [] {
            HWND dialog = findDialog("Video Format");
            ASSERT_NE(dialog, nullptr);
            const Mode &m = GetParam();
            EXPECT_TRUE(clickItem(dialog, formatButton(m.width, m.height)));
            EXPECT_TRUE(clickItem(dialog, IDOK));
        });
    }

    // The live video the capture window shows now.
    static Image liveFrame() {
        const plat::user::PaintSurface *surface = plat::user::paintSurface(captureWindowHandle());
        if (!surface || surface->info.size() < sizeof(BITMAPINFOHEADER)) return {};
        BITMAPINFOHEADER h;
        std::memcpy(&h, surface->info.data(), sizeof h);
        return imageFromDib24(h, surface->bits);
    }
};

// Three images at 2 s each: the file, its images, the titles, the stop.
TEST_P(RecordingTest, ThreeImagesShowTheIntegratedSky) {
    const Mode &mode = GetParam();
    installWatchedCamera();
    writeSettingsFile(
        "[Filenames]\r\nImageFile=C:\\night.avi\r\n[Capture]\r\nExposure=2000\r\nCount=3\r\n"
        "[Driver]\r\nPreviewMode=2\r\n");
    chooseFormatAt(100);
    Image live;
    user().at(400, [&] {
        live = liveFrame();
        choose(IDM_PREVIEW);  // the live view off: the run needs none
    });
    user().at(500, [&] { choose(IDM_RECORD); });
    std::size_t exposureStarts = 0;
    onTitle = [&](const std::string &) {
        if (titles.size() != 3) return;
        user().after(500, [&] {
            EXPECT_TRUE(menuEnabled(IDM_RECORD)) << "the run stopped by itself";
            EXPECT_TRUE(buttonState(IDM_RECORD) & TBSTATE_ENABLED);
            EXPECT_EQ(portLevel(), 0x00);
            for (const plat::PortWrite &w : noctil::test::cameraPortWrites()) exposureStarts += w.value == 0x0B;
            exitProgram();
        });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);

    EXPECT_EQ(titles, (std::vector<std::string>{"C:\\night.avi - 1/3", "C:\\night.avi - 2/3", "C:\\night.avi - 3/3"}));
    EXPECT_EQ(exposureStarts, 3u) << "no exposure after the third image";
    const std::vector<PortExposure> exposures = portExposures();
    ASSERT_EQ(exposures.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(exposures[k].integration.lightSeconds, 2.0, 0.001);
        EXPECT_NEAR(exposures[k].integration.glowSeconds, 2.0, 0.001);
        // Each title follows its own readout, before the next exposure.
        EXPECT_GT(titleTimesMs[k], exposures[k].startMs + 2000);
        if (k + 1 < 3) {
            EXPECT_LE(titleTimesMs[k], exposures[k + 1].startMs);
        }
    }

    const std::filesystem::path file = plat::nativePath("C:\\night.avi");
    const avitest::Probe probe = avitest::ffprobe(file);
    EXPECT_EQ(probe.frames, 3);
    EXPECT_EQ(probe.width, mode.width);
    EXPECT_EQ(probe.height, mode.height);
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.messages, "");

    // ffmpeg and the platform's reader decode the same images.
    std::string messages;
    const std::vector<std::uint8_t> bgr = avitest::ffmpegBgr24(file, messages);
    EXPECT_EQ(messages, "");
    BITMAPINFOHEADER format{};
    const std::vector<Image> images = readImages(file, &format);
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(format.biBitCount, 24);
    EXPECT_EQ(format.biWidth, mode.width);
    EXPECT_EQ(format.biHeight, mode.height);

    const Scene scene(mode.width, mode.height);
    int starX = 0, starY = 0;
    ASSERT_TRUE(scene.faintStar(5.0, 15.0, starX, starY)) << "the sky has a faint star";
    for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(imageFromBgr24(bgr, mode.width, mode.height, k).pixels, images[k].pixels);
        const Integration t = exposures[k].integration;
        const Scene::Match match = scene.compare(images[k], t);
        EXPECT_LT(match.maxAbs, kNoiseBound) << "every pixel is the sky's charge plus read noise";
        EXPECT_NEAR(match.mean, 0.0, 0.1);
        EXPECT_GT(match.compared, images[k].pixels.size() * 9 / 10);
        const double excess = images[k].boxExcess(starX, starY);
        EXPECT_NEAR(excess, scene.expected(t).boxExcess(starX, starY), 1.5) << "star at " << starX << "," << starY;
        EXPECT_GT(excess, 8.0) << "well above the noise (0.5 levels in a 3 x 3 mean)";
    }

    // The live frame is the sky of one video frame: the faint star is lost in it.
    ASSERT_EQ(live.width, mode.width);
    const double videoSeconds = plat::avicap::kVideoFrameMicros / 1e6;
    EXPECT_LT(scene.compare(live, {videoSeconds, videoSeconds}).maxAbs, kNoiseBound);
    EXPECT_LT(std::abs(live.boxExcess(starX, starY)), 1.5);
}

// Amplifier off for all but the last second: less glow in the corner where
// the amplifier sits than with it on all the time, by the two seconds.
TEST_P(RecordingTest, AmplifierOffCarriesLessGlow) {
    const Mode &mode = GetParam();
    installWatchedCamera();
    writeSettingsFile(
        "[Filenames]\r\nImageFile=C:\\glow.avi\r\n[Flags]\r\nAutoIncrement=1\r\n"
        "[Capture]\r\nExposure=3000\r\nCount=1\r\n");
    chooseFormatAt(100);
    user().at(500, [&] { choose(IDM_RECORD); });
    onTitle = [&](const std::string &) {
        if (titles.size() == 1) {
            user().after(300, [&] { choose(IDM_SETUP); });
            user().after(400, [&] {
                HWND dialog = findDialog("Setup Capture");
                ASSERT_NE(dialog, nullptr);
                EXPECT_TRUE(clickItem(dialog, IDC_AMPOFF));
                EXPECT_TRUE(clickItem(dialog, IDC_STARTCAPTURE));
            });
        } else {
            user().after(300, [&] { exitProgram(); });
        }
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);

    const std::vector<PortExposure> exposures = portExposures();
    ASSERT_EQ(exposures.size(), 2u);
    EXPECT_NEAR(exposures[0].integration.glowSeconds, 3.0, 0.001);
    EXPECT_NEAR(exposures[1].integration.lightSeconds, 3.0, 0.001);
    EXPECT_NEAR(exposures[1].integration.glowSeconds, 1.0, 0.001);

    const Scene scene(mode.width, mode.height);
    double glow[2] = {0, 0};
    const char *files[2] = {"C:\\glow_000.avi", "C:\\glow_001.avi"};
    constexpr int kCorner = 16;
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(files[k]);
        const std::vector<Image> images = readImages(plat::nativePath(files[k]));
        ASSERT_EQ(images.size(), 1u);
        const Integration t = exposures[static_cast<std::size_t>(k)].integration;
        EXPECT_LT(scene.compare(images[0], t).maxAbs, kNoiseBound);
        // The corner's level less what the sky's light gives there.
        const int x = mode.width - kCorner, y = mode.height - kCorner;
        glow[k] = images[0].boxMean(x, y, kCorner) - scene.expected({t.lightSeconds, 0}).boxMean(x, y, kCorner);
        EXPECT_NEAR(glow[k], scene.cornerGlow(kCorner, t.glowSeconds), 0.5);
    }
    EXPECT_LT(glow[1], glow[0]);
    EXPECT_NEAR(glow[0] - glow[1], scene.cornerGlow(kCorner, 2.0), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Modes, RecordingTest, ::testing::ValuesIn(kModes),
                         [](const auto &info) { return std::string(info.param.name); });

// The frames the readout callback receives, with the shell's exposure cycle
// running: the fields released by the readout levels carry the exposure's
// charge, in proportion to its time; live frames carry a video frame's worth.
TEST_F(EndToEndTest, ReadoutFramesCarryChargeInProportionToTheExposure) {
    installWatchedCamera();
    writeSettingsFile(
        "[Filenames]\r\nImageFile=C:\\charge.avi\r\n[Flags]\r\nAutoIncrement=1\r\n"
        "[Capture]\r\nExposure=2000\r\nCount=1\r\n[Driver]\r\nPreviewMode=2\r\n");
    user().at(500, [&] { choose(IDM_RECORD); });
    onTitle = [&](const std::string &) {
        if (titles.size() == 1) {
            user().after(300, [&] { choose(IDM_SETUP); });
            user().after(400, [&] {
                HWND dialog = findDialog("Setup Capture");
                ASSERT_NE(dialog, nullptr);
                EXPECT_TRUE(typeInto(dialog, IDC_EXPOSURE, "4000"));
                EXPECT_TRUE(clickItem(dialog, IDC_STARTCAPTURE));
            });
        } else {
            user().after(300, [&] { exitProgram(); });
        }
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);

    const std::vector<PortExposure> exposures = portExposures();
    ASSERT_EQ(exposures.size(), 2u);
    const double videoSeconds = plat::avicap::kVideoFrameMicros / 1e6;
    double charged[2] = {0, 0};
    std::size_t liveFrames = 0, darkFrames = 0;
    for (const FrameRecord &f : camera->frames) {
        const double most = std::max(f.evenSeconds, f.oddSeconds), least = std::min(f.evenSeconds, f.oddSeconds);
        if (!f.streamed) {
            // Live video: a video frame's light while the port is idle,
            // nothing while the camera integrates.
            if (f.port == 0x00) {
                EXPECT_NEAR(most, videoSeconds, 0.01) << "live frame at " << f.time;
                ++liveFrames;
            } else {
                EXPECT_NEAR(most, 0.0, 0.01) << "live frame during the exposure at " << f.time;
                ++darkFrames;
            }
            continue;
        }
        if (f.port != 0x09 && f.port != 0x08) {
            // The arming frame (still integrating) is dark; frames after
            // the readout (the final image's capture) are live video.
            EXPECT_NEAR(most, f.port == 0x00 ? videoSeconds : 0.0, 0.01) << "streamed frame at " << f.time;
            continue;
        }
        // A readout frame: at most one field carries the charge, the other
        // holds a video frame's light.
        EXPECT_NEAR(least, videoSeconds, 0.01) << "readout frame at " << f.time;
        const std::size_t k = f.time / 1000 < exposures[1].startMs ? 0 : 1;
        if (most > 0.5) {
            EXPECT_NEAR(most, exposures[k].integration.lightSeconds, 0.02) << "readout frame at " << f.time;
            charged[k] += most;
        }
    }
    EXPECT_GT(liveFrames, 5u);
    EXPECT_GT(darkFrames, 5u);
    EXPECT_NEAR(exposures[0].integration.lightSeconds, 2.0, 0.001);
    EXPECT_NEAR(exposures[1].integration.lightSeconds, 4.0, 0.001);
    // Two fields per exposure on 480-line video, each with the whole charge.
    EXPECT_NEAR(charged[0], 2 * 2.0, 0.04);
    EXPECT_NEAR(charged[1], 2 * 4.0, 0.08);
    EXPECT_NEAR(charged[1] / charged[0], 2.0, 0.02);
}

// The close box in the middle of the third exposure ends the program; the
// output file holds the two images written, readable by outside readers.
TEST_F(EndToEndTest, ClosingDuringARunKeepsTheImagesWritten) {
    installWatchedCamera();
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\cut.avi\r\n[Capture]\r\nExposure=2000\r\nCount=5\r\n");
    user().at(500, [&] { choose(IDM_RECORD); });
    std::uint8_t levelAtClose = 0xFF;
    onTitle = [&](const std::string &) {
        if (titles.size() != 2) return;
        user().after(1000, [&] {
            levelAtClose = portLevel();
            EXPECT_TRUE(user().closeBox(mainWindow()));
        });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(levelAtClose, 0x0B) << "closed in the middle of an exposure";
    EXPECT_EQ(portLevel(), 0x00);
    EXPECT_EQ(titles.back(), "C:\\cut.avi - 2/5");

    const std::filesystem::path file = plat::nativePath("C:\\cut.avi");
    const avitest::Probe probe = avitest::ffprobe(file);
    EXPECT_EQ(probe.frames, 2);
    EXPECT_EQ(probe.width, 640);
    EXPECT_EQ(probe.height, 480);
    EXPECT_EQ(probe.rate, "25/1");
    EXPECT_EQ(probe.messages, "");

    const std::vector<PortExposure> exposures = portExposures();
    const std::vector<Image> images = readImages(file);
    ASSERT_EQ(images.size(), 2u);
    ASSERT_GE(exposures.size(), 2u);
    const Scene scene(640, 480);
    for (std::size_t k = 0; k < 2; ++k)
        EXPECT_LT(scene.compare(images[k], exposures[k].integration).maxAbs, kNoiseBound) << "image " << k;
}

}  // namespace
}  // namespace noctil::e2e
