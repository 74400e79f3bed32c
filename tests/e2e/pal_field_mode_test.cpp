// 576-line video on the simulated camera through the real program: the
// camera is read out field by field as on 480 lines, and the image is the
// two passes' fields assembled into odd and even rows.
#include <cmath>
#include <sstream>
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

namespace noctil::e2e {
namespace {

using noctil::test::clickItem;
using noctil::test::findDialog;

constexpr double kNoiseBound = 5.7;  // the camera's bounded read noise, as in the recording tests
constexpr int kWidth = 720, kHeight = 576;

int palButton() {
    auto camera =
        plat::avicap::makeSimulatedCamera(plat::session().clock(), plat::session().component<plat::ParallelPort>());
    const auto formats = camera->formats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        if (formats[i].biWidth == kWidth && std::abs(formats[i].biHeight) == kHeight &&
            formats[i].biCompression == BI_RGB)
            return plat::avicap::kFormatButtonFirst + static_cast<int>(i);
    return -1;
}

// The port from the first exposure on, image by image: integrate, first
// field out at 0x09, second at 0x08, rest; then Stop and the end rest it.
constexpr std::uint8_t kExpectedLevels[] = {0x0B, 0x09, 0x08, 0x00, 0x0B, 0x09, 0x08, 0x00, 0x00, 0x00};

std::string numbered(const std::vector<std::uint8_t> &expected, const std::vector<std::uint8_t> &actual) {
    std::ostringstream out;
    for (std::size_t i = 0; i < std::max(expected.size(), actual.size()); ++i) {
        out << i << ": expected ";
        if (i < expected.size())
            out << "0x" << std::hex << int(expected[i]) << std::dec;
        else
            out << "-";
        out << ", actual ";
        if (i < actual.size())
            out << "0x" << std::hex << int(actual[i]) << std::dec;
        else
            out << "-";
        out << (i < expected.size() && i < actual.size() && expected[i] == actual[i] ? "" : "  <==") << "\n";
    }
    return out.str();
}

TEST_F(EndToEndTest, PalVideoIsReadOutFieldByFieldIntoOddAndEvenRows) {
    installWatchedCamera();
    writeSettingsFile("[Filenames]\r\nImageFile=C:\\pal.avi\r\n[Capture]\r\nExposure=1500\r\nCount=2\r\n");
    user().at(100, [this] { choose(IDM_VIDEOFORMAT); });
    user().at(200, [] {
        HWND dialog = findDialog("Video Format");
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(clickItem(dialog, palButton()));
        EXPECT_TRUE(clickItem(dialog, IDOK));
    });
    user().at(500, [this] { choose(IDM_RECORD); });
    onTitle = [&](const std::string &) {
        if (titles.size() == 2) user().after(300, [&] { exitProgram(); });
    };
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);
    ASSERT_EQ(titles.size(), 2u);

    std::vector<std::uint8_t> levels;
    for (const plat::PortWrite &w : noctil::test::cameraPortWrites())
        if (w.value == 0x0B || !levels.empty()) levels.push_back(w.value);
    const std::vector<std::uint8_t> expected(std::begin(kExpectedLevels), std::end(kExpectedLevels));
    EXPECT_EQ(levels, expected) << numbered(expected, levels);

    // The frames the callback scored: under 0x09 the odd rows carry the
    // whole charge, under 0x08 the even rows; the other field is live video.
    const std::vector<PortExposure> exposures = portExposures();
    ASSERT_EQ(exposures.size(), 2u);
    const double video = plat::avicap::kVideoFrameMicros / 1e6;
    int oddCharged = 0, evenCharged = 0;
    for (const FrameRecord &f : camera->frames) {
        if (!f.streamed || (f.port != 0x09 && f.port != 0x08)) continue;
        EXPECT_EQ(f.height, kHeight);
        const std::size_t k = f.time / 1000 < exposures[1].startMs ? 0 : 1;
        const double charge = exposures[k].integration.lightSeconds;
        const double charged = f.port == 0x09 ? f.oddSeconds : f.evenSeconds;
        const double other = f.port == 0x09 ? f.evenSeconds : f.oddSeconds;
        EXPECT_NEAR(other, video, 0.01) << "frame at " << f.time;
        if (charged > 0.5) {
            EXPECT_NEAR(charged, charge, 0.02) << "frame at " << f.time;
            (f.port == 0x09 ? oddCharged : evenCharged)++;
        }
    }
    EXPECT_EQ(oddCharged, 2) << "one odd field a readout, released by 0x09";
    EXPECT_EQ(evenCharged, 2) << "one even field a readout, released by 0x08";

    const std::filesystem::path file = plat::nativePath("C:\\pal.avi");
    const avitest::Probe probe = avitest::ffprobe(file);
    EXPECT_EQ(probe.frames, 2);
    EXPECT_EQ(probe.width, kWidth);
    EXPECT_EQ(probe.height, kHeight);
    const std::vector<Image> images = readImages(file);
    ASSERT_EQ(images.size(), 2u);
    const Scene scene(kWidth, kHeight);
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        // Every row, odd and even, holds the exposure's charge: rows a pass
        // left empty would be the bias alone, far below the sky.
        const Scene::Match match = scene.compare(images[k], exposures[k].integration);
        EXPECT_LT(match.maxAbs, kNoiseBound);
        EXPECT_GT(match.compared, images[k].pixels.size() * 9 / 10);
        // And each parity on its own: the mean difference from the scene
        // over the unclipped pixels is noise alone.
        const Image sky = scene.expected(exposures[k].integration);
        for (int parity = 0; parity < 2; ++parity) {
            double difference = 0;
            int n = 0;
            for (int y = parity; y < kHeight; y += 2)
                for (int x = 0; x < kWidth; x += 3)
                    if (sky.at(x, y) < 250) difference += images[k].at(x, y) - sky.at(x, y), ++n;
            ASSERT_GT(n, kWidth * kHeight / 8);
            EXPECT_NEAR(difference / n, 0.0, 0.2) << (parity ? "odd" : "even") << " rows";
        }
    }
}

}  // namespace
}  // namespace noctil::e2e
