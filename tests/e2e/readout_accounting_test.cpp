// Every readout is accounted for: one that gives no image says why in the
// status line for the rest of the run, with how many did so beside the
// images written, and the first of a run opens a box once the handler that
// met it has returned. A capture device that goes and comes back is used
// again and the run reaches its count; one that comes back with frames of
// another size ends the run, the file keeping its images.
#include <camport.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "avicap/video_devices.h"
#include "avifile/avi_reader.h"
#include "dialog_user.h"
#include "display/status_line.h"
#include "e2e_fixture.h"
#include "fake_v4l2.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "test_drivers.h"
#include "user/window_system.h"

namespace noctil::e2e {
namespace {

using noctil::test::FakeV4l2;
using noctil::test::FakeV4l2Device;

// A box as the person saw it: when it opened, what it said, and what the
// status line said at that moment.
struct BoxSeen {
    std::uint32_t timeMs;
    std::string text;
    std::string statusLine;
};

class ReadoutAccountingTest : public EndToEndTest {
protected:
    std::string statusLine() { return plat::status::compose(watcher_.gather(mainWindow())).text; }

    // A capture card on the machine beside the simulated camera, saved as
    // the driver to connect.
    void plugInGrabber(FakeV4l2Device plan) {
        plan.bus = "usb-0";
        fake_ = std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{plan});
        plat::avicap::v4l2::setSessionIo(fake_);
        installCamera(noctil::test::Camera::Simulated);
    }

    // Closes every message box as it comes, noting it, until `until` holds.
    void answerBoxes(std::function<bool()> until) {
        user().after(20, [this, until] {
            if (HWND box = noctil::test::findDialog("Error")) {
                (void)box;
                const auto &log = noctil::test::messageBoxLog();
                boxes.push_back({nowMs(), log.empty() ? "" : log.back().text, statusLine()});
                noctil::test::pressEnter();
            }
            if (!until()) answerBoxes(until);
        });
    }

    // A test driver of one frame format, the machine's only capture driver.
    static void installOnly(const char *name, const char *description, const BITMAPINFOHEADER &format) {
        plat::avicap::TestDriverPlan plan;
        plan.description = description;
        plan.formats = {format};
        plat::avicap::registerTestDriver(name, plan);
        std::ofstream(plat::windowsDirectory() / "system.ini", std::ios::binary)
            << "[drivers32]\r\nmsvideo=" << name << "\r\n";
    }

    // A run into `file` of 1 s exposures 1 s apart, from Record at 500 ms to
    // Stop at `stopMs`, every box answered: the status line just before Stop.
    std::string recordUntil(const char *file, std::uint32_t stopMs) {
        writeSettingsFile(std::string("[Filenames]\r\nImageFile=") + file +
                          "\r\n[Capture]\r\nExposure=1000\r\nDelay=1000\r\n");
        user().at(500, [&] { choose(IDM_RECORD); });
        std::string line;
        user().at(stopMs, [&] {
            line = statusLine();
            choose(IDM_STOP);
        });
        user().at(stopMs + 500, [&] { exitProgram(); });
        answerBoxes([this, stopMs] { return nowMs() >= stopMs; });
        setTimeLimitMs(60000);
        EXPECT_EQ(runProgram(), 0);
        return line;
    }

    // The images in an output file, read back through its index.
    static std::uint32_t imagesIn(const char *name) {
        auto reader = plat::avi::Reader::open(plat::nativePath(name));
        return reader ? static_cast<std::uint32_t>(reader->frameCount()) : 0;
    }

    std::shared_ptr<FakeV4l2> fake_;
    plat::status::Watcher watcher_;
    std::vector<BoxSeen> boxes;
};

constexpr const char *kGrabber = "[Driver]\r\nName=Fake grabber (usb-0)\r\n";

// A device that streams but finishes no buffer (no signal, a wrong input):
// the first readout's box comes once the cycle has armed its next step, and
// the status line counts every such readout of the run.
TEST_F(ReadoutAccountingTest, NoFrameFromTheDeviceIsToldOnceAndCountedForTheRun) {
    FakeV4l2Device plan;
    plan.dropsEveryFrame = true;
    plugInGrabber(plan);
    writeSettingsFile(
        std::string("[Filenames]\r\nImageFile=C:\\dark.avi\r\n[Capture]\r\nExposure=1000\r\nDelay=3000\r\n") +
        kGrabber);
    user().at(500, [&] { choose(IDM_RECORD); });
    std::string lineAfterThree;
    // Record at 500; each readout waits its 2 s; the delay is 3 s: readouts
    // end at 3500, 9500, 15500.
    user().at(16000, [&] {
        lineAfterThree = statusLine();
        choose(IDM_STOP);
    });
    user().at(17000, [&] { exitProgram(); });
    answerBoxes([&] { return nowMs() >= 16000; });
    setTimeLimitMs(60000);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(runProgram(), 0);
    ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(boxes.size(), 1u) << "one box a run, however many readouts give nothing";
    EXPECT_NE(boxes[0].text.find("No image from this readout: no frame from the device in 2 s."), std::string::npos)
        << boxes[0].text;
    EXPECT_GE(boxes[0].timeMs, 3500u);
    EXPECT_LT(boxes[0].timeMs, 4500u) << "within the cycle it happened in";
    EXPECT_NE(boxes[0].statusLine.find("at rest  |  next exposure in "), std::string::npos)
        << "the box opens after the handler armed the next step: " << boxes[0].statusLine;
    EXPECT_NE(lineAfterThree.find(", 3 readouts without an image: no frame from the device in 2 s"), std::string::npos)
        << lineAfterThree;
    EXPECT_EQ(portLevel(), 0x00);
}

// Frames the readout selection refuses (too small for its measuring window).
TEST_F(ReadoutAccountingTest, FramesTheProgramCannotUseAreSaidToBeSo) {
    installOnly("tinycam", "Tiny camera", plat::avicap::makeFormat(32, 16, 24, BI_RGB));
    const std::string line = recordUntil("C:\\tiny.avi", 4000);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("frames the program cannot use"), std::string::npos) << boxes[0].text;
    EXPECT_NE(line.find(", 1 readout without an image: frames the program cannot use"), std::string::npos) << line;
}

// Interlaced frames whose two fields are alike (a flat picture) hold no
// field of the camera's: each readout ends after the first pass without an
// image, which is told once, counted every time, and never written.
TEST_F(ReadoutAccountingTest, AFieldThatDidNotArriveLeavesTheReadoutWithoutAnImage) {
    installOnly("flatcam", "Flat PAL camera", plat::avicap::makeFormat(720, 576, 24, BI_RGB));
    const std::string line = recordUntil("C:\\flat.avi", 8000);

    int readouts = 0;
    for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes()) {
        if (w.address != CAMERA_PORT_ADDRESS) continue;
        EXPECT_NE(w.value, PORT_READOUT) << "the second pass is never read";
        if (w.value == PORT_READOUT_480) readouts++;
    }
    ASSERT_GE(readouts, 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("No image from this readout: the odd field did not arrive in the readout stream."),
              std::string::npos)
        << boxes[0].text;
    EXPECT_NE(line.find(", " + std::to_string(readouts) +
                        " readouts without an image: the program found no image in the readout's 3 frames"),
              std::string::npos)
        << line;
    EXPECT_EQ(imagesIn("C:\\flat.avi"), 0u);
}

// The device goes after the first image, unplugged or with its stream
// broken; it is told with the system's own reason, looked for before each
// readout, and used again once back: the run reaches its count, and the
// status line no longer gives the reason once the device is back.
struct ComeBack {
    bool unplug;
    int error;
    const char *statusReason;
};

class ComeBackTest : public ReadoutAccountingTest {
protected:
    void check(const ComeBack &c) {
        plugInGrabber(FakeV4l2Device{});
        writeSettingsFile(std::string("[Filenames]\r\nImageFile=C:\\back.avi\r\n[Capture]\r\nExposure=1000\r\n"
                                      "Delay=1000\r\nCount=3\r\n") +
                          kGrabber);
        user().at(500, [&] { choose(IDM_RECORD); });
        bool done = false;
        std::string lastLine;
        onTitle = [&](const std::string &title) {
            if (title == "C:\\back.avi - 1/3") {
                if (c.unplug) {
                    fake_->unplug("/dev/video0");
                    user().after(4000, [&] {
                        FakeV4l2Device back;
                        back.bus = "usb-0";
                        fake_->plugBackIn("/dev/video0", "/dev/video1", back);
                    });
                } else {
                    fake_->breakStream("/dev/video0");
                }
            }
            // The line as the display shows it while the run ends.
            lastLine = statusLine();
            if (title == "C:\\back.avi - 3/3") {
                done = true;
                user().after(100, [&] { exitProgram(); });
            }
        };
        answerBoxes([&] { return done; });
        setTimeLimitMs(120000);
        ::testing::internal::CaptureStderr();
        ASSERT_EQ(runProgram(), 0);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(imagesIn("C:\\back.avi"), 3u) << "the next image is written and counted";
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].text.find("No image from this readout: the capture device failed."), std::string::npos)
            << boxes[0].text;
        EXPECT_NE(boxes[0].text.find(std::strerror(c.error)), std::string::npos) << boxes[0].text;
        EXPECT_NE(boxes[0].statusLine.find(std::string("1 readout without an image: ") + c.statusReason),
                  std::string::npos)
            << "while the device is away: " << boxes[0].statusLine;
        // Once it is back its reason no longer holds; the count stays.
        EXPECT_NE(lastLine.find("3 of 3 images written to C:\\back.avi, 1 readout without an image"), std::string::npos)
            << lastLine;
        EXPECT_EQ(lastLine.find(c.statusReason), std::string::npos) << lastLine;
        EXPECT_NE(err.find("is back"), std::string::npos);
    }
};

TEST_F(ComeBackTest, UnpluggedAndBackAtANewNode) { check({true, ENODEV, "the device is gone"}); }

TEST_F(ComeBackTest, AFatalStreamingErrorIsAnInputOutputErrorNotAMissingDevice) {
    check({false, EIO, "the device failed: Input/output error"});
}

// Back with frames of another size: told, and the run ends as a failed
// write ends it, the file keeping the image written before.
TEST_F(ReadoutAccountingTest, ADeviceBackWithAnotherSizeEndsTheRunAndTheFileKeepsItsImages) {
    plugInGrabber(FakeV4l2Device{});
    writeSettingsFile(std::string("[Filenames]\r\nImageFile=C:\\size.avi\r\n[Capture]\r\nExposure=1000\r\n"
                                  "Delay=1000\r\nCount=3\r\n") +
                      kGrabber);
    user().at(500, [&] { choose(IDM_RECORD); });
    onTitle = [&](const std::string &title) {
        if (title != "C:\\size.avi - 1/3") return;
        fake_->unplug("/dev/video0");
        FakeV4l2Device smaller;
        smaller.bus = "usb-0";
        smaller.formats = {{V4L2_PIX_FMT_YUYV, {{320, 240}}}};
        fake_->plugBackIn("/dev/video0", "", smaller);
    };
    bool recordEnabledAfter = false;
    user().at(12000, [&] {
        recordEnabledAfter = menuEnabled(IDM_RECORD);
        exitProgram();
    });
    answerBoxes([&] { return nowMs() >= 11900; });
    setTimeLimitMs(60000);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(runProgram(), 0);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(imagesIn("C:\\size.avi"), 1u);
    EXPECT_EQ(titles.back(), "C:\\size.avi - 1/3");
    EXPECT_TRUE(recordEnabledAfter) << "the run has ended";
    ASSERT_FALSE(boxes.empty());
    const bool told = std::any_of(boxes.begin(), boxes.end(), [](const BoxSeen &b) {
        return b.text.find("now delivers 320 x 240 frames") != std::string::npos &&
               b.text.find("C:\\size.avi keeps its 1 images") != std::string::npos;
    });
    EXPECT_TRUE(told) << boxes.back().text;
    EXPECT_EQ(portLevel(), 0x00);
}

}  // namespace
}  // namespace noctil::e2e
