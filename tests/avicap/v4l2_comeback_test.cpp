// A V4L2 grabber that goes away and comes back, over the scripted fake: it
// comes back on the input and standard it streamed in (the standard found
// at the first connection included) or the program sees another format; it
// is found again in another USB socket when no other device of its card
// could be meant; and one pulled while nobody reads it is let go at once.
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "avicap/video_devices.h"
#include "capture_fixture.h"
#include "fake_v4l2.h"
#include "profile/ini_file.h"

namespace {

using noctil::test::FakeV4l2;
using noctil::test::FakeV4l2Device;

constexpr const char *kDescription = "Fake grabber (usb-0)";

// A USB grabber that starts at NTSC on a camera that sends PAL.
FakeV4l2Device palGrabber(std::string node, std::string bus, bool anySize) {
    FakeV4l2Device d;
    d.node = std::move(node);
    d.bus = std::move(bus);
    d.received = V4L2_STD_PAL_BG;
    if (anySize)
        d.formats = {{V4L2_PIX_FMT_YUYV, {}}};  // a scaler takes 720 x 576 at NTSC too
    else
        d.formats = {{V4L2_PIX_FMT_YUYV, {{720, 480}}}};  // its size follows the standard
    return d;
}

// What one frame of a stream held: its size and the rows that carry the
// picture line they should (the fake marks each row with its number).
struct FrameSeen {
    UINT width = 0, height = 0;
    std::uint32_t rowsWithPicture = 0;
};

class V4l2ComebackTest : public CaptureTest {
protected:
    void plugIn(std::vector<FakeV4l2Device> devices) {
        fake_ = std::make_shared<FakeV4l2>(std::move(devices));
        plat::avicap::v4l2::setSessionIo(fake_);
        installTestDrivers({{0, plat::avicap::TestDriverPlan{}}});  // a fresh driver list that lists the new fake
    }

    HWND connect() {
        HWND w = makeCaptureWindow();
        EXPECT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
        setStreaming(w, 33000, 2);
        SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
        return w;
    }

    // A stream until the device fails under it.
    static void streamUntilLost(HWND w) {
        StreamRecorder rec;
        EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0)) << "the device fails under the stream";
    }

    // A stream of one frame: what it held; none when the stream failed.
    static std::optional<FrameSeen> oneFrame(HWND w) {
        std::optional<FrameSeen> seen;
        StreamRecorder rec;
        rec.onFrame = [&](HWND window, VIDEOHDR &header) {
            FrameSeen f{status(window).uiImageWidth, status(window).uiImageHeight, 0};
            const std::size_t stride = header.dwBytesUsed / f.height;
            for (std::uint32_t y = 0; y < f.height; ++y)
                if (noctil::test::fakeRowMark(header.lpData + y * stride) == y) ++f.rowsWithPicture;
            seen = f;
            SendMessageA(window, WM_CAP_STOP, 0, 0);
        };
        SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        return seen;
    }

    static std::string savedStandard() {
        return plat::readIniValue(plat::windowsDirectory() / "capture.ini", kDescription, "standard")
            .value_or("<none>");
    }

    std::shared_ptr<FakeV4l2> fake_;
};

// The standard the first connection found is saved with the device's
// choices, and the grabber, back at NTSC as it starts, is put on it again:
// every one of the 576 rows carries picture, wherever it is plugged in.
TEST_F(V4l2ComebackTest, TheStandardFoundAtTheFirstConnectionIsPutBackWhenTheGrabberReturns) {
    struct Case {
        const char *name;
        bool anySize;
        const char *nodeBack, *busBack;
    };
    const Case cases[] = {
        {"a grabber whose size follows the standard, back at its node", false, "/dev/video0", "usb-0"},
        {"a scaler, back at a new node", true, "/dev/video2", "usb-0"},
        {"a scaler, back in another USB socket", true, "/dev/video2", "usb-3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = palGrabber("/dev/video0", "usb-0", c.anySize);
        plan.disappearAfterFrames = 40;
        plugIn({plan});
        std::ofstream(plat::windowsDirectory() / "capture.ini").close();
        testing::internal::CaptureStderr();
        HWND w = connect();
        EXPECT_EQ(savedStandard(), "PAL-BG") << "saved at the first connection";
        const std::optional<FrameSeen> before = oneFrame(w);
        ASSERT_TRUE(before);
        EXPECT_EQ(before->height, 576u);
        streamUntilLost(w);
        fake_->plugBackIn("/dev/video0", c.nodeBack, palGrabber(c.nodeBack, c.busBack, c.anySize));
        const std::optional<FrameSeen> after = oneFrame(w);
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(after) << err;
        EXPECT_EQ(after->width, before->width) << "in the format it streamed in";
        EXPECT_EQ(after->height, 576u);
        EXPECT_EQ(after->rowsWithPicture, 576u) << "no row below a 480-line picture";
        char name[80] = "";
        SendMessageA(w, WM_CAP_DRIVER_GET_NAMEA, sizeof name, reinterpret_cast<LPARAM>(name));
        EXPECT_STREQ(name, kDescription) << "the same device to the program";
        DestroyWindow(w);
    }
}

// A grabber that comes back and cannot be put on the input or standard it
// streamed in is never used in the old format with a picture of other
// lines: on another standard it is set up in that standard's frame, which
// the program sees as another format (and ends its run); on another input,
// where the format would not tell, it stays away and the streams fail.
TEST_F(V4l2ComebackTest, AGrabberThatComesBackSetUpOtherwiseIsNotUsedAsBefore) {
    struct Case {
        const char *name;
        v4l2_std_id refusedBack;         // standards the device refuses when back
        bool onlyFirstInputBack;         // it comes back with its first input alone
        std::optional<UINT> heightBack;  // of the frames after the return; none: no frame
    };
    const Case cases[] = {
        {"PAL refused when back", V4L2_STD_PAL_BG, false, 480},
        {"the input it streamed on gone", 0, true, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = palGrabber("/dev/video0", "usb-0", true);
        plan.disappearAfterFrames = 40;
        plugIn({plan});
        std::ofstream(plat::windowsDirectory() / "capture.ini") << "[" << kDescription << "]\ninput=S-Video\n";
        testing::internal::CaptureStderr();
        HWND w = connect();
        streamUntilLost(w);
        FakeV4l2Device back = palGrabber("/dev/video1", "usb-0", true);
        back.refusedStandards = c.refusedBack;
        if (c.onlyFirstInputBack) back.inputs.resize(1);
        fake_->plugBackIn("/dev/video0", "/dev/video1", back);
        const std::optional<FrameSeen> after = oneFrame(w);
        testing::internal::GetCapturedStderr();
        ASSERT_EQ(after.has_value(), c.heightBack.has_value());
        if (after) {
            EXPECT_EQ(after->height, *c.heightBack) << "another format for the program";
            EXPECT_EQ(after->rowsWithPicture, after->height);
        }
        EXPECT_EQ(fake_->device("/dev/video1").log->opens, fake_->device("/dev/video1").log->closes + (after ? 1 : 0));
        DestroyWindow(w);
    }
}

// Plugged in again elsewhere, the grabber's bus, and so its description,
// differ: it is the same device only when no other device of its card is
// there to be meant.
TEST_F(V4l2ComebackTest, AGrabberInAnotherSocketIsFoundWhenItIsTheOnlyOneOfItsCard) {
    struct Case {
        const char *name;
        std::vector<std::pair<const char *, const char *>> back;  // card and bus of each device now
        bool found;
    };
    const Case cases[] = {
        {"alone, in another socket", {{"Fake grabber", "usb-3"}}, true},
        {"beside another of its card", {{"Fake grabber", "usb-3"}, {"Fake grabber", "usb-4"}}, false},
        {"only a device of another card", {{"Other grabber", "usb-3"}}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan;
        plan.bus = "usb-0";
        plan.disappearAfterFrames = 40;
        plugIn({plan});
        testing::internal::CaptureStderr();
        HWND w = connect();
        streamUntilLost(w);
        int n = 0;
        for (const auto &[card, bus] : c.back) {
            FakeV4l2Device d;
            d.card = card;
            d.bus = bus;
            const std::string node = "/dev/video" + std::to_string(++n);
            fake_->plugBackIn(n == 1 ? "/dev/video0" : node, node, d);
        }
        const std::optional<FrameSeen> after = oneFrame(w);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(after.has_value(), c.found);
        DestroyWindow(w);
    }
}

// With no stream and no live video nothing reads the device; pulled then,
// it is let go within the watch's second all the same (its handle closed,
// its buffers unmapped), so that it can come back, and the next stream
// uses it again. A stream that broke is left for that stream to meet.
TEST_F(V4l2ComebackTest, AGrabberPulledWhileNobodyReadsItIsLetGoAtOnce) {
    struct Case {
        const char *name;
        bool unplug;  // else its stream breaks
        bool letGo;
    };
    const Case cases[] = {{"pulled", true, true}, {"its stream broken", false, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan;
        plan.bus = "usb-0";
        plugIn({plan});
        testing::internal::CaptureStderr();
        HWND w = connect();
        const auto held = [&] {
            const auto &log = *fake_->device("/dev/video0").log;
            return log.opens != log.closes || log.maps != log.unmaps;
        };
        const plat::Micros pulledAt = now() + 5000000;
        std::optional<plat::Micros> letGoAt;
        bool looked = false;
        user().after(5000, [&] { c.unplug ? fake_->unplug("/dev/video0") : fake_->breakStream("/dev/video0"); });
        // Looks every 100 ms for 3 s.
        std::function<void()> look = [&] {
            if (!held() && !letGoAt) letGoAt = now();
            if (now() < pulledAt + 3000000)
                user().after(100, look);
            else
                looked = true;
        };
        user().after(5050, look);
        plat::user::runModalLoop([&] { return looked; });
        ASSERT_EQ(letGoAt.has_value(), c.letGo);
        if (letGoAt) {
            EXPECT_LE(*letGoAt - pulledAt, 1100000) << "within the watch's second";
        }

        if (c.unplug) {
            FakeV4l2Device back;
            back.bus = "usb-0";
            fake_->plugBackIn("/dev/video0", "/dev/video1", back);
        } else {
            EXPECT_FALSE(oneFrame(w)) << "the broken stream is met by the next stream";
        }
        const std::optional<FrameSeen> after = oneFrame(w);
        testing::internal::GetCapturedStderr();
        ASSERT_TRUE(after) << "used again";
        EXPECT_EQ(after->rowsWithPicture, 480u);
        DestroyWindow(w);
    }
}

}  // namespace
