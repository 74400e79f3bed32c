// A V4L2 device connected with nothing saved for it, or with saved choices
// it no longer takes, over the scripted fake: the standard it receives, the
// nearest format it can hand over for each kind of grabber, alternating
// fields, converted formats, and the devices and frames that cannot be used.
#include <cerrno>
#include <fstream>

#include "avicap/v4l2/format_choice.h"
#include "avicap/v4l2/v4l2_device.h"
#include "avicap/video_devices.h"
#include "capture_fixture.h"
#include "dialog_user.h"
#include "fake_v4l2.h"
#include "test_jpeg.h"
#include "user/window_system.h"

namespace {

using noctil::test::FakePixelFormat;
using noctil::test::FakeV4l2;
using noctil::test::FakeV4l2Device;
using plat::avicap::v4l2::FrameFormat;

constexpr const char *kSection = "[Fake grabber (usb-0)]\n";

class V4l2FirstStartTest : public CaptureTest {
protected:
    // One grabber on S-Video at NTSC, listed at driver index 1.
    FakeV4l2Device grabber() {
        FakeV4l2Device d;
        d.bus = "usb-0";
        d.formats = {{V4L2_PIX_FMT_YUYV, {{720, 480}, {320, 240}}}};
        return d;
    }
    HWND connect(FakeV4l2Device plan, const std::string &saved = "") {
        fake_ = std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{std::move(plan)});
        plat::avicap::v4l2::setSessionIo(fake_);
        installTestDrivers({{0, plat::avicap::TestDriverPlan{}}});  // a fresh driver list that lists the new fake
        std::ofstream(plat::windowsDirectory() / "capture.ini") << kSection << saved;
        HWND w = makeCaptureWindow();
        testing::internal::CaptureStderr();
        connected_ = SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0) != 0;
        stderr_ = testing::internal::GetCapturedStderr();
        return w;
    }
    // The messages the connection left for the user, each answered.
    std::vector<std::string> told(HWND window) {
        const std::size_t before = noctil::test::messageBoxTexts().size();
        for (int i = 0; i < 3; ++i) settle(window);
        const std::vector<std::string> all = noctil::test::messageBoxTexts();
        return std::vector<std::string>(all.begin() + static_cast<long>(before), all.end());
    }
    std::size_t calls(const char *name) const {
        const auto &c = fake_->device("/dev/video0").log->calls;
        return static_cast<std::size_t>(std::count(c.begin(), c.end(), name));
    }

    std::shared_ptr<FakeV4l2> fake_;
    bool connected_ = false;
    std::string stderr_;
};

TEST_F(V4l2FirstStartTest, TheReceivedStandardIsSelectedWhenNoneIsSaved) {
    struct Case {
        const char *name;
        std::optional<v4l2_std_id> received;
        v4l2_std_id refused;
        const char *saved;
        UINT lines;            // of the frames handed over
        std::size_t queries;   // VIDIOC_QUERYSTD calls
        const char *toldPart;  // in the one message to the user, or null for none
    };
    const Case cases[] = {
        {"PAL on a grabber set to NTSC", V4L2_STD_PAL_BG, 0, "", 576, 1, nullptr},
        {"PAL named with its variants", V4L2_STD_PAL_B | V4L2_STD_PAL_G, 0, "", 576, 1, nullptr},
        {"NTSC, as the grabber is set", V4L2_STD_NTSC_M, 0, "", 480, 1, nullptr},
        {"no signal", 0, 0, "", 480, 1, nullptr},
        {"ambiguous: both line counts", V4L2_STD_NTSC_M | V4L2_STD_PAL_BG, 0, "", 480, 1, nullptr},
        {"a device that cannot tell", std::nullopt, 0, "", 480, 1, nullptr},
        {"PAL received but refused", V4L2_STD_PAL_BG, V4L2_STD_PAL_BG, "", 480, 1, "refused to switch to it"},
        {"a saved standard is kept", V4L2_STD_PAL_BG, 0, "standard=NTSC-M\n", 480, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = grabber();
        plan.received = c.received;
        plan.refusedStandards = c.refused;
        HWND w = connect(plan, c.saved);
        ASSERT_TRUE(connected_) << stderr_;
        EXPECT_EQ(status(w).uiImageHeight, c.lines);
        EXPECT_EQ(status(w).uiImageWidth, 720u) << "the full frame of the standard";
        EXPECT_EQ(calls("VIDIOC_QUERYSTD"), c.queries);
        const std::vector<std::string> messages = told(w);
        if (c.toldPart) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find(c.toldPart), std::string::npos) << messages[0];
            EXPECT_NE(messages[0].find("NTSC-M"), std::string::npos) << "says what it stays on: " << messages[0];
        } else {
            EXPECT_TRUE(messages.empty()) << messages.front();
        }
        DestroyWindow(w);
    }
}

// The format lists of the grabbers astronomers plug in, as the driver sees
// them on the standard they receive, and what a first start chooses.
TEST(V4l2FormatChoice, EachKindOfGrabberGetsTheNearestFormatNeverTheSmallest) {
    const auto sizes = [](std::uint32_t pf, std::vector<std::pair<std::uint32_t, std::uint32_t>> list) {
        std::vector<FrameFormat> out;
        for (auto [w, h] : list) out.push_back({pf, w, h});
        return out;
    };
    const auto join = [](std::vector<std::vector<FrameFormat>> parts) {
        std::vector<FrameFormat> out;
        for (auto &p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> scaled576 = {{160, 120}, {320, 240}, {352, 288},
                                                                            {640, 480}, {720, 576}, {768, 576}};
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> scaled480 = {
        {160, 120}, {320, 240}, {352, 240}, {640, 480}, {720, 480}};
    struct Case {
        const char *name;
        std::vector<FrameFormat> formats;
        std::optional<FrameFormat> current;
        std::uint32_t lines;
        FrameFormat chosen;
    };
    const Case cases[] = {
        {"a PCI card with a scaler on PAL (RGB first in its list)",
         join({sizes(V4L2_PIX_FMT_BGR24, scaled576), sizes(V4L2_PIX_FMT_GREY, scaled576),
               sizes(V4L2_PIX_FMT_YUYV, scaled576), sizes(V4L2_PIX_FMT_YUV420, scaled576)}),
         FrameFormat{V4L2_PIX_FMT_BGR24, 384, 288},
         576,
         {V4L2_PIX_FMT_YUYV, 720, 576}},
        {"a card left at BGR24 720x576",
         join({sizes(V4L2_PIX_FMT_GREY, scaled576), sizes(V4L2_PIX_FMT_YUYV, scaled576),
               sizes(V4L2_PIX_FMT_BGR24, scaled576)}),
         FrameFormat{V4L2_PIX_FMT_BGR24, 720, 576},
         576,
         {V4L2_PIX_FMT_BGR24, 720, 576}},
        {"a PCIe card on NTSC",
         join({sizes(V4L2_PIX_FMT_UYVY, scaled480), sizes(V4L2_PIX_FMT_BGR32, scaled480)}),
         std::nullopt,
         480,
         {V4L2_PIX_FMT_UYVY, 720, 480}},
        {"a card with square pixels only, on NTSC",
         sizes(V4L2_PIX_FMT_YUYV, {{320, 240}, {640, 480}}),
         std::nullopt,
         480,
         {V4L2_PIX_FMT_YUYV, 640, 480}},
        {"a USB grabber that starts at NTSC, now on PAL",
         sizes(V4L2_PIX_FMT_YUYV, {{720, 576}, {360, 288}, {180, 144}}),
         FrameFormat{V4L2_PIX_FMT_YUYV, 720, 480},
         576,
         {V4L2_PIX_FMT_YUYV, 720, 576}},
        {"a USB grabber offering only planar 4:2:0",
         join({sizes(V4L2_PIX_FMT_NV12, {{352, 288}, {720, 576}}), sizes(V4L2_PIX_FMT_YUV420, {{720, 576}})}),
         std::nullopt,
         576,
         {V4L2_PIX_FMT_NV12, 720, 576}},
        {"grey before RGB",
         join({sizes(V4L2_PIX_FMT_BGR24, {{720, 576}}), sizes(V4L2_PIX_FMT_GREY, {{720, 576}})}),
         std::nullopt,
         576,
         {V4L2_PIX_FMT_GREY, 720, 576}},
        {"a UVC dongle, Motion-JPEG and YUYV, no standard",
         join(
             {sizes(V4L2_PIX_FMT_MJPEG, {{720, 576}, {640, 480}}), sizes(V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}})}),
         std::nullopt,
         0,
         {V4L2_PIX_FMT_MJPEG, 720, 576}},
        {"a UVC dongle at its current size",
         sizes(V4L2_PIX_FMT_YUYV, {{320, 240}, {640, 480}}),
         FrameFormat{V4L2_PIX_FMT_YUYV, 320, 240},
         0,
         {V4L2_PIX_FMT_YUYV, 320, 240}},
        {"a camera decoder with alternating fields",
         sizes(V4L2_PIX_FMT_UYVY, {{720, 576}, {720, 480}}),
         std::nullopt,
         0,
         {V4L2_PIX_FMT_UYVY, 720, 576}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::size_t> order = plat::avicap::v4l2::formatPreference(c.formats, c.current, c.lines);
        ASSERT_EQ(order.size(), c.formats.size());
        const FrameFormat &first = c.formats[order.front()];
        EXPECT_EQ(first, c.chosen) << plat::avicap::v4l2::describeDeviceFormat(first);
    }
}

TEST_F(V4l2FirstStartTest, ASavedChoiceThatCannotBeHonouredIsReplacedAndToldOnce) {
    struct Case {
        const char *name;
        std::vector<FakePixelFormat> formats;
        std::set<std::uint32_t> refused;
        const char *saved;
        UINT width, height;
        DWORD compression;
        const char *toldPart;
    };
    const Case cases[] = {
        {"a planar format no longer offered",
         {{V4L2_PIX_FMT_YUYV, {{720, 480}, {320, 240}}}},
         {},
         "format=YU12 720x480\n",
         720,
         480,
         plat::avicap::kFourccYUY2,
         "YU12 720x480 is no longer offered; capturing YUYV 720x480 instead"},
        {"a listed format the device refuses",
         {{V4L2_PIX_FMT_GREY, {{720, 480}}}, {V4L2_PIX_FMT_YUYV, {{720, 480}, {320, 240}}}},
         {V4L2_PIX_FMT_GREY},
         "format=GREY 720x480\n",
         720,
         480,
         plat::avicap::kFourccYUY2,
         "GREY 720x480 was refused"},
        {"a saved planar format still offered",
         {{V4L2_PIX_FMT_YUYV, {{720, 480}}}, {V4L2_PIX_FMT_YUV420, {{320, 240}}}},
         {},
         "format=YU12 320x240\n",
         320,
         240,
         plat::avicap::kFourccYUY2,
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = grabber();
        plan.formats = c.formats;
        plan.refusedFormats = c.refused;
        HWND w = connect(plan, c.saved);
        ASSERT_TRUE(connected_) << stderr_;
        EXPECT_EQ(status(w).uiImageWidth, c.width);
        EXPECT_EQ(status(w).uiImageHeight, c.height);
        BITMAPINFOHEADER format{};
        SendMessageA(w, WM_CAP_GET_VIDEOFORMAT, sizeof format, reinterpret_cast<LPARAM>(&format));
        EXPECT_EQ(format.biCompression, c.compression);
        std::vector<std::string> messages = told(w);
        if (c.toldPart) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find(c.toldPart), std::string::npos) << messages[0];
        } else {
            EXPECT_TRUE(messages.empty());
        }
        // Frames of the chosen size stream, the saved one converted.
        setStreaming(w, 33000, 1);
        SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
        StreamRecorder rec;
        rec.onFrame = [](HWND window, VIDEOHDR &) { SendMessageA(window, WM_CAP_STOP, 0, 0); };
        SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        ASSERT_EQ(rec.deliveries.size(), 1u);
        EXPECT_EQ(rec.deliveries[0].bufferLength, c.width * 2 * c.height);
        EXPECT_TRUE(told(w).empty()) << "told once";
        DestroyWindow(w);
    }
}

// A device that takes any size is listed at common sizes; the size it was
// left at is its own and is kept.
TEST_F(V4l2FirstStartTest, ASizeOutsideTheCommonOnesThatTheDeviceIsLeftAtIsKept) {
    FakeV4l2Device plan = grabber();
    plan.inputs = {{"Camera", 0}};
    plan.formats = {{V4L2_PIX_FMT_YUYV, {}}};  // any size
    plan.startSize = {704, 576};
    HWND w = connect(plan);
    ASSERT_TRUE(connected_) << stderr_;
    EXPECT_EQ(status(w).uiImageWidth, 704u);
    EXPECT_EQ(status(w).uiImageHeight, 576u);
    DestroyWindow(w);
}

TEST_F(V4l2FirstStartTest, ADeviceThatRefusesEveryFormatIsToldAndNotConnected) {
    FakeV4l2Device plan = grabber();
    plan.formats = {{V4L2_PIX_FMT_YUYV, {{720, 480}}}, {V4L2_PIX_FMT_GREY, {{720, 480}, {320, 240}}}};
    plan.refusedFormats = {V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_GREY};
    HWND w = connect(plan);
    EXPECT_FALSE(connected_);
    EXPECT_EQ(calls("VIDIOC_S_FMT"), 3u) << "each listed format tried once";
    const std::vector<std::string> messages = told(w);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("refused every format it offers"), std::string::npos) << messages[0];
    EXPECT_EQ(fake_->device("/dev/video0").log->opens, fake_->device("/dev/video0").log->closes);
    DestroyWindow(w);
}

// V4L2 means the height of one field where fields alternate: every listed
// size is asked for with half its rows and connects at its own size.
TEST_F(V4l2FirstStartTest, AlternatingFieldsAreAskedForWithTheFieldHeight) {
    FakeV4l2Device plan = grabber();
    plan.field = V4L2_FIELD_ALTERNATE;
    plan.inputs = {{"Camera", 0}};
    plan.formats = {{V4L2_PIX_FMT_UYVY, {{640, 480}, {720, 576}}}};
    HWND w = connect(plan);
    ASSERT_TRUE(connected_) << stderr_;
    for (const auto &[width, height] : {std::pair{640u, 480u}, std::pair{720u, 576u}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        BITMAPINFOHEADER wanted = plat::avicap::makeFormat(static_cast<int>(width), static_cast<int>(height), 16, 0);
        wanted.biCompression = mmioFOURCC('U', 'Y', 'V', 'Y');
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_VIDEOFORMAT, sizeof wanted, reinterpret_cast<LPARAM>(&wanted)));
        EXPECT_EQ(status(w).uiImageWidth, width);
        EXPECT_EQ(status(w).uiImageHeight, height);
        const auto &asked = fake_->device("/dev/video0").log->sizesAsked;
        ASSERT_FALSE(asked.empty());
        EXPECT_EQ(asked.back(), std::pair(width, height / 2));
        // A top and a bottom field make one frame, rows in picture order.
        setStreaming(w, 33000, 1);
        SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
        StreamRecorder rec;
        std::vector<std::uint16_t> marks;
        rec.onFrame = [&](HWND window, VIDEOHDR &h) {
            for (UINT r = 0; r < height; ++r) marks.push_back(noctil::test::fakeRowMark(h.lpData + r * width * 2));
            SendMessageA(window, WM_CAP_STOP, 0, 0);
        };
        SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        ASSERT_EQ(rec.deliveries.size(), 1u);
        ASSERT_EQ(marks.size(), height);
        for (UINT r = 0; r < height; ++r) ASSERT_EQ(marks[r], r) << "row " << r;
    }
    DestroyWindow(w);
}

// Motion-JPEG frames decoded to 24-bit RGB; a run of damaged ones is left
// out whole and told once.
TEST_F(V4l2FirstStartTest, DamagedMotionJpegFramesAreLeftOutAndToldOnce) {
    const std::vector<std::uint8_t> good = noctil::test::encodeTestJpeg(320, 240);
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() / 3));
    FakeV4l2Device plan = grabber();
    plan.inputs = {{"Camera", 0}};
    plan.formats = {{V4L2_PIX_FMT_MJPEG, {{320, 240}}}};
    plan.jpegFrames = {good, cut, cut, cut, good};
    HWND w = connect(plan);
    ASSERT_TRUE(connected_) << stderr_;
    BITMAPINFOHEADER format{};
    SendMessageA(w, WM_CAP_GET_VIDEOFORMAT, sizeof format, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(format.biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(format.biBitCount, 24);
    EXPECT_EQ(format.biHeight, -240) << "top-down rows";
    setStreaming(w, 33000, 1);
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    const std::vector<std::uint8_t> expected = noctil::test::referenceBgr(good);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        StreamRecorder rec;
        std::size_t decodedWhole = 0;
        rec.onFrame = [&](HWND, VIDEOHDR &h) {
            decodedWhole += std::equal(expected.begin(), expected.end(), h.lpData);
        };
        SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        ASSERT_GE(rec.deliveries.size(), 10u);
        EXPECT_EQ(decodedWhole, rec.deliveries.size()) << "every frame handed over is a whole good one";
        // About 30 frames a second, three in five of them damaged.
        EXPECT_LE(rec.deliveries.size(), 13u);
        const std::vector<std::string> messages = told(w);
        if (run == 0) {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_NE(messages[0].find("could not be decoded"), std::string::npos) << messages[0];
        } else {
            EXPECT_TRUE(messages.empty()) << "told once a connection";
        }
    }
    DestroyWindow(w);
}

}  // namespace
