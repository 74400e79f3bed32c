// V4L2 devices as capture drivers of the capture window, over the scripted
// fake: where they are listed, connecting, streams to the video-stream
// callback, a device lost mid-stream, devices that cannot be used, the
// Video Source and Video Format dialogs and the settings kept per device.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "avicap/driver_dialogs.h"
#include "avicap/video_devices.h"
#include "avifile/avi_reader.h"
#include "capture_fixture.h"
#include "dialog_user.h"
#include "fake_v4l2.h"
#include "profile/ini_file.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace {

using noctil::test::FakeControl;
using noctil::test::FakeV4l2;
using noctil::test::FakeV4l2Device;
using plat::avicap::TestDriverPlan;

FakeV4l2Device grabber(std::string node, std::string bus) {
    FakeV4l2Device d;
    d.node = std::move(node);
    d.bus = std::move(bus);
    return d;
}

class V4l2DriverTest : public CaptureTest {
protected:
    // The machine's devices; the driver list reads them at its first use.
    void plugIn(std::vector<FakeV4l2Device> devices) {
        fake_ = std::make_shared<FakeV4l2>(std::move(devices));
        plat::avicap::v4l2::setSessionIo(fake_);
    }
    FakeV4l2Device &device(const char *node = "/dev/video0") { return fake_->device(node); }

    static std::string description(UINT index) {
        char name[80], version[100];
        return capGetDriverDescriptionA(index, name, sizeof name, version, sizeof version) ? name : "<none>";
    }
    static std::vector<std::string> boxes() { return noctil::test::messageBoxTexts(); }
    std::string setting(const std::string &section, const std::string &key) {
        return plat::readIniValue(plat::windowsDirectory() / "capture.ini", section, key).value_or("<none>");
    }

    std::shared_ptr<FakeV4l2> fake_;
};

TEST_F(V4l2DriverTest, DevicesFollowTheConfiguredDriversAndAvoidTheCommandIndexes) {
    std::vector<FakeV4l2Device> devices;
    for (int i = 0; i < 7; ++i)
        devices.push_back(grabber("/dev/video" + std::to_string(i), "usb-" + std::to_string(i)));
    plugIn(devices);
    testing::internal::CaptureStderr();
    const std::vector<std::string> expected = {"Simulated CCTV camera",
                                               "Fake grabber (usb-0)",
                                               "Fake grabber (usb-1)",
                                               "Fake grabber (usb-2)",
                                               "<none>",
                                               "<none>",
                                               "Fake grabber (usb-3)",
                                               "Fake grabber (usb-4)",
                                               "<none>",
                                               "<none>"};
    for (UINT i = 0; i < 10; ++i) EXPECT_EQ(description(i), expected[i]) << "index " << i;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no free index for /dev/video5"), std::string::npos) << err;
    EXPECT_NE(err.find("no free index for /dev/video6"), std::string::npos) << err;
}

TEST_F(V4l2DriverTest, AConfiguredListKeepsItsPlacesAndDevicesComeAfterIt) {
    plugIn({grabber("/dev/video0", "usb-0")});
    installTestDrivers({{0, TestDriverPlan{}}, {2, TestDriverPlan{}}});
    EXPECT_EQ(description(1), "<none>");
    EXPECT_EQ(description(3), "Fake grabber (usb-0)");
}

TEST_F(V4l2DriverTest, ConnectedDeviceStreamsEveryFrameToTheCallbackAndStopsAtOnce) {
    plugIn({grabber("/dev/video0", "usb-0")});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
    EXPECT_EQ(status(w).uiImageWidth, 640u);
    EXPECT_EQ(status(w).uiImageHeight, 480u);
    CAPDRIVERCAPS caps{};
    SendMessageA(w, WM_CAP_DRIVER_GET_CAPS, sizeof caps, reinterpret_cast<LPARAM>(&caps));
    EXPECT_TRUE(caps.fHasDlgVideoSource && caps.fHasDlgVideoFormat);
    EXPECT_FALSE(caps.fHasOverlay);
    setStreaming(w, 33000, 2);
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));

    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        // Long after the device started: its buffers hold old frames.
        plat::session().clock().sleepUntil(now() + 5000000 + 1000 * run);
        StreamRecorder rec;
        rec.onFrame = [&](HWND window, VIDEOHDR &) {
            if (rec.deliveries.size() == 4) SendMessageA(window, WM_CAP_STOP, 0, 0);
        };
        const plat::Micros start = now();
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
        ASSERT_EQ(rec.deliveries.size(), 4u) << "the stop ends the stream at the frame that asked";
        EXPECT_GT(rec.deliveries[0].time, start) << "a frame finished before the stream is not handed over";
        EXPECT_LE(rec.deliveries[0].time - start, 33333) << "the first frame within one frame period";
        for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(rec.deliveries[i].time - rec.deliveries[i - 1].time, 33333) << i;
        EXPECT_EQ(rec.deliveries[0].bufferLength, 640u * 2 * 480);
        EXPECT_EQ(now(), rec.deliveries[3].time) << "nothing waits after the stop";
    }
    EXPECT_EQ(device().log->streamOns, 1) << "the device streams across streams";

    // Without a stop the time limit ends it: 2 s of 33.3 ms frames.
    StreamRecorder rec;
    const plat::Micros start = now();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
    EXPECT_EQ(now(), start + 2000000);
    EXPECT_GE(rec.deliveries.size(), 59u);
    EXPECT_LE(rec.deliveries.size(), 60u);
}

TEST_F(V4l2DriverTest, CaptureFileHoldsTheDevicesFrames) {
    plugIn({grabber("/dev/video0", "usb-0")});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
    setStreaming(w, 33000, 2);
    StreamRecorder rec;
    rec.onFrame = [&](HWND window, VIDEOHDR &) {
        if (rec.deliveries.size() == 3) SendMessageA(window, WM_CAP_STOP, 0, 0);
    };
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>("C:\\_DEV.AVI")));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE, 0, 0));
    auto reader = plat::avi::Reader::open(plat::nativePath("C:\\_DEV.AVI"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->frameCount(), 3u);
    std::vector<std::uint8_t> frame;
    ASSERT_TRUE(reader->readFrame(2, frame));
    ASSERT_EQ(frame.size(), 640u * 2 * 480);
    EXPECT_EQ(noctil::test::fakeRowMark(frame.data() + 479 * 1280), 479);
}

// What the program's error callback heard: the code and the driver's words.
struct ErrorHeard {
    int id;
    std::string text;
};
std::vector<ErrorHeard> &errorsHeard() {
    static std::vector<ErrorHeard> heard;
    return heard;
}
LRESULT CALLBACK recordError(HWND, int id, LPCSTR text) {
    errorsHeard().push_back({id, text ? text : ""});
    return TRUE;
}

// A window without an error callback tells the user itself, once however
// often the device goes and comes back.
TEST_F(V4l2DriverTest, ADeviceLostMidStreamIsToldOnceHoweverOftenItGoesAndComesBack) {
    FakeV4l2Device plan = grabber("/dev/video0", "usb-0");
    plan.disappearAfterFrames = 150;
    plugIn({plan});
    plat::user::ensureDialogClasses();
    HWND parent =
        CreateWindowExA(0, "STATIC", "Main", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    HWND w = capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 0, 0, 160, 120, parent, 0);
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
    setStreaming(w, 33000, 2);
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    plat::session().clock().sleepUntil(now() + 4000000);  // 120 frames on
    testing::internal::CaptureStderr();
    StreamRecorder rec;
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
    EXPECT_GT(rec.deliveries.size(), 20u);
    EXPECT_LT(rec.deliveries.size(), 40u);
    EXPECT_FALSE(status(w).fCapturingNow);
    EXPECT_TRUE(boxes().empty()) << "nobody is told from inside the stream";
    EXPECT_EQ(device().log->opens, device().log->closes) << "the lost device is let go at once";
    // A mapped buffer keeps the device file open: the driver of a device
    // still mapped cannot be unloaded, nor the device come back.
    EXPECT_EQ(device().log->maps, device().log->unmaps) << "every buffer of the lost device unmapped";
    settle(w);
    // While it is away, streams fail at once and say nothing more.
    const plat::Micros before = now();
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
    EXPECT_EQ(now(), before);
    settle(w);
    // It comes and goes three times, at a new node each time: each time
    // back, it streams again until it goes.
    std::string node = "/dev/video0";
    for (int flap = 1; flap <= 3; ++flap) {
        SCOPED_TRACE(flap);
        FakeV4l2Device again = grabber("/dev/video" + std::to_string(flap), "usb-0");
        again.disappearAfterFrames = 10;
        fake_->plugBackIn(node, again.node, again);
        node = again.node;
        StreamRecorder back;
        EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
        EXPECT_GT(back.deliveries.size(), 0u) << "used again once back";
        settle(w);
    }
    testing::internal::GetCapturedStderr();
    const std::vector<std::string> texts = boxes();
    ASSERT_EQ(texts.size(), 1u) << "one box, not one each time it goes";
    EXPECT_NE(texts[0].find("stopped delivering video"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find(std::string("VIDIOC_DQBUF: ") + std::strerror(ENODEV)), std::string::npos) << texts[0];
    DestroyWindow(parent);
}

// A device that vanishes (unplugged) or whose stream fails fatally is
// closed at once; the program hears the system's own reason through its
// error callback, after the stream; when the device is there again, found
// by its description at whatever node, the next stream uses it, set up as
// saved and in the format it streamed in.
TEST_F(V4l2DriverTest, ADeviceThatComesBackIsUsedAgainSetUpAsBefore) {
    struct Case {
        const char *name;
        bool unplugged;
        int error;
        const char *nodeBack;
    };
    for (const Case &c : {Case{"unplugged, back at a new node", true, ENODEV, "/dev/video4"},
                          Case{"fatal streaming error", false, EIO, "/dev/video0"}}) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = grabber("/dev/video0", "usb-0");
        if (c.unplugged)
            plan.disappearAfterFrames = 40;
        else
            plan.fatalErrorAfterFrames = 40;
        plugIn({plan});
        installTestDrivers({{0, TestDriverPlan{}}});
        std::ofstream(plat::windowsDirectory() / "capture.ini")
            << "[Fake grabber (usb-0)]\ninput=S-Video\nformat=YUYV 320x240\n";
        HWND w = makeCaptureWindow();
        ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
        SendMessageA(w, WM_CAP_SET_CALLBACK_ERRORA, 0, reinterpret_cast<LPARAM>(&recordError));
        setStreaming(w, 33000, 2);
        SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
        errorsHeard().clear();
        testing::internal::CaptureStderr();
        {
            StreamRecorder rec;
            EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
            EXPECT_GT(rec.deliveries.size(), 0u);
        }
        ASSERT_EQ(errorsHeard().size(), 1u);
        EXPECT_NE(errorsHeard()[0].id, 0);
        EXPECT_NE(errorsHeard()[0].text.find(std::string("VIDIOC_DQBUF: ") + std::strerror(c.error)), std::string::npos)
            << errorsHeard()[0].text;
        EXPECT_EQ(device().log->opens, device().log->closes) << "closed at once";
        EXPECT_GT(device().log->maps, 0);
        EXPECT_EQ(device().log->maps, device().log->unmaps) << "every buffer unmapped at once";
        if (c.unplugged) {
            StreamRecorder away;
            EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
            EXPECT_TRUE(away.deliveries.empty());
            FakeV4l2Device back = grabber(c.nodeBack, "usb-0");
            back.log = std::make_shared<noctil::test::FakeV4l2Log>();
            fake_->plugBackIn("/dev/video0", c.nodeBack, back);
        }
        StreamRecorder again;
        again.onFrame = [&](HWND window, VIDEOHDR &) {
            if (again.deliveries.size() == 3) SendMessageA(window, WM_CAP_STOP, 0, 0);
        };
        EXPECT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
        EXPECT_EQ(again.deliveries.size(), 3u);
        EXPECT_EQ(again.deliveries[0].bufferLength, 320u * 2 * 240) << "in the format it streamed in";
        EXPECT_EQ(errorsHeard().back().id, 0) << "the failure is cleared once it is back";
        const auto &calls = fake_->device(c.nodeBack).log->calls;
        EXPECT_NE(std::find(calls.begin(), calls.end(), "VIDIOC_S_INPUT"), calls.end()) << "set up as saved";
        EXPECT_TRUE(boxes().empty()) << "the program's error callback tells, not the window";
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("is back"), std::string::npos) << err;
        DestroyWindow(w);
    }
}

// A device that comes back with frames of another size streams in them;
// the window makes its buffers fit and says so.
TEST_F(V4l2DriverTest, ADeviceThatComesBackWithAnotherSizeSaysSo) {
    FakeV4l2Device plan = grabber("/dev/video0", "usb-0");
    plan.disappearAfterFrames = 20;
    plugIn({plan});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
    setStreaming(w, 33000, 2);
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
    FakeV4l2Device smaller = grabber("/dev/video0", "usb-0");
    smaller.formats = {{V4L2_PIX_FMT_YUYV, {{320, 240}}}};
    fake_->plugBackIn("/dev/video0", "", smaller);
    StreamRecorder rec;
    rec.onFrame = [&](HWND window, VIDEOHDR &) { SendMessageA(window, WM_CAP_STOP, 0, 0); };
    EXPECT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
    ASSERT_EQ(rec.deliveries.size(), 1u);
    EXPECT_EQ(rec.deliveries[0].bufferLength, 320u * 2 * 240);
    EXPECT_EQ(status(w).uiImageWidth, 320u);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("came back with 320 x 240"), std::string::npos) << err;
    DestroyWindow(w);
}

TEST_F(V4l2DriverTest, DevicesThatCannotBeUsedRefuseToConnectAndSaySo) {
    struct Case {
        const char *name;
        int setFormatError;
        std::vector<noctil::test::FakePixelFormat> formats;
        const char *told;
    };
    const Case cases[] = {
        {"held by another program", EBUSY, {{V4L2_PIX_FMT_YUYV, {{640, 480}}}}, "is in use by another program"},
        {"refuses every format", EINVAL, {{V4L2_PIX_FMT_YUYV, {{640, 480}}}}, "VIDIOC_S_FMT: Invalid argument"},
        {"offers only formats that cannot be decoded", 0, {{V4L2_PIX_FMT_H264, {{640, 480}}}}, "offers no format"},
        {"offers only frames too large", 0, {{V4L2_PIX_FMT_XBGR32, {{1024, 768}}}}, "offers no format"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = grabber("/dev/video0", "usb-0");
        plan.setFormatError = c.setFormatError;
        plan.formats = c.formats;
        plugIn({plan});
        installTestDrivers({{0, TestDriverPlan{}}});  // a fresh driver list that lists the new fake
        const std::size_t boxesBefore = boxes().size();
        HWND w = makeCaptureWindow();
        testing::internal::CaptureStderr();
        EXPECT_FALSE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
        settle(w);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.told), std::string::npos) << err;
        ASSERT_EQ(boxes().size(), boxesBefore + 1);
        EXPECT_NE(boxes().back().find(c.told), std::string::npos) << boxes().back();
        EXPECT_EQ(device().log->opens, device().log->closes);
        EXPECT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0)) << "another driver still connects";
        DestroyWindow(w);
    }
}

TEST_F(V4l2DriverTest, SavedChoicesComeBackAndVanishedOnesAreLeftOut) {
    struct Case {
        const char *name;
        const char *saved;
        UINT width, height;
        std::int32_t brightness;
        long inputsSet;
        const char *note;  // on standard error
    };
    const Case cases[] = {
        {"all still there", "input=S-Video\nformat=YUYV 320x240\ncontrol Brightness=200\n", 320, 240, 200, 1, ""},
        {"input gone", "input=Tuner 9\nformat=YUYV 320x240\n", 320, 240, 128, 0, "input 'Tuner 9' no longer exists"},
        {"size gone", "format=YUYV 999x999\n", 640, 480, 128, 0, "format YUYV 999x999 is no longer offered"},
        {"value out of range", "control Brightness=9000\n", 640, 480, 128, 0, "Brightness '9000' is out of its range"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        plugIn({grabber("/dev/video0", "usb-0")});
        installTestDrivers({{0, TestDriverPlan{}}});
        std::ofstream(plat::windowsDirectory() / "capture.ini") << "[Fake grabber (usb-0)]\n" << c.saved;
        HWND w = makeCaptureWindow();
        testing::internal::CaptureStderr();
        ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.note), std::string::npos) << err;
        EXPECT_EQ(status(w).uiImageWidth, c.width);
        EXPECT_EQ(status(w).uiImageHeight, c.height);
        EXPECT_EQ(device().controls[0].value, c.brightness);
        const std::vector<std::string> &calls = device().log->calls;
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "VIDIOC_S_INPUT"), c.inputsSet);
        char name[80] = "";
        SendMessageA(w, WM_CAP_DRIVER_GET_NAMEA, sizeof name, reinterpret_cast<LPARAM>(name));
        EXPECT_STREQ(name, "Fake grabber (usb-0)");
        DestroyWindow(w);
    }
}

class V4l2DialogTest : public V4l2DriverTest {
protected:
    void SetUp() override {
        FakeV4l2Device plan = grabber("/dev/video0", "usb-0");
        plan.controls = {
            FakeControl{},
            FakeControl{V4L2_CID_AUTOGAIN, "Gain, Automatic", V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 1, 1, {}, false},
            FakeControl{V4L2_CID_GAIN, "Gain", V4L2_CTRL_TYPE_INTEGER, 0, 100, 1, 0, 10, {}, true}};
        plugIn({plan});
        plat::user::ensureDialogClasses();
        parent_ = CreateWindowExA(0, "STATIC", "Main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
        window_ = capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 0, 0, 160, 120, parent_, 0);
        ASSERT_TRUE(SendMessageA(window_, WM_CAP_DRIVER_CONNECT, 1, 0));
    }
    HWND parent_ = nullptr, window_ = nullptr;
};

TEST_F(V4l2DialogTest, VideoSourceSetsInputStandardAndControlsAndKeepsThem) {
    std::vector<std::string> inputItems, standardItems;
    user().at(10, [&] {
        HWND d = noctil::test::findDialog("Video Source");
        ASSERT_NE(d, nullptr);
        HWND input = plat::user::childById(d, plat::avicap::kChoiceComboFirst);
        HWND standard = plat::user::childById(d, plat::avicap::kChoiceComboFirst + 1);
        inputItems = plat::user::comboItems(input);
        standardItems = plat::user::comboItems(standard);
        plat::user::selectComboItem(input, 1);     // S-Video
        plat::user::selectComboItem(standard, 1);  // PAL-BG: 576 lines
        plat::user::selectComboItem(plat::user::childById(d, plat::avicap::kChoiceComboFirst + 2),
                                    0);                                      // automatic gain off
        noctil::test::typeInto(d, plat::avicap::kFieldEditFirst, "300");     // brightness, beyond its range
        noctil::test::typeInto(d, plat::avicap::kFieldEditFirst + 1, "50");  // gain, which the device refuses
    });
    user().at(20, [] { noctil::test::clickItem(noctil::test::findDialog("Video Source"), IDOK); });
    user().at(30, [] { noctil::test::pressEnter(); });  // the refusal's message box
    EXPECT_TRUE(SendMessageA(window_, WM_CAP_DLG_VIDEOSOURCE, 0, 0));
    EXPECT_EQ(inputItems, (std::vector<std::string>{"Composite", "S-Video"}));
    EXPECT_EQ(standardItems, (std::vector<std::string>{"NTSC-M", "PAL-BG"}));
    EXPECT_EQ(status(window_).uiImageHeight, 576u) << "PAL frames";
    EXPECT_EQ(device().controls[0].value, 255) << "brightness kept to its range";
    EXPECT_EQ(device().controls[1].value, 0);
    const std::vector<std::string> texts = boxes();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("refused Gain = 50"), std::string::npos) << texts[0];
    EXPECT_NE(texts[0].find("VIDIOC_S_CTRL: Invalid argument"), std::string::npos) << texts[0];

    const std::string section = "Fake grabber (usb-0)";
    EXPECT_EQ(setting(section, "input"), "S-Video");
    EXPECT_EQ(setting(section, "standard"), "PAL-BG");
    EXPECT_EQ(setting(section, "control Brightness"), "255");
    EXPECT_EQ(setting(section, "control Gain_ Automatic"), "<none>") << "keys are the control names, ',' kept";
    EXPECT_EQ(setting(section, "control Gain, Automatic"), "0");
    EXPECT_EQ(setting(section, "format"), "YUYV 640x576");
}

TEST_F(V4l2DialogTest, VideoFormatOffersTheSizesAndKeepsTheChoice) {
    std::vector<std::string> buttons;
    user().at(10, [&] {
        HWND d = noctil::test::findDialog("Video Format");
        ASSERT_NE(d, nullptr);
        for (int i = 0; i < 2; ++i) buttons.push_back(noctil::test::itemText(d, plat::avicap::kFormatButtonFirst + i));
        noctil::test::clickItem(d, plat::avicap::kFormatButtonFirst + 1);
    });
    user().at(20, [] { noctil::test::clickItem(noctil::test::findDialog("Video Format"), IDOK); });
    EXPECT_TRUE(SendMessageA(window_, WM_CAP_DLG_VIDEOFORMAT, 0, 0));
    EXPECT_EQ(buttons, (std::vector<std::string>{"640 x 480, YUY2", "320 x 240, YUY2"}));
    EXPECT_EQ(status(window_).uiImageWidth, 320u);
    EXPECT_EQ(setting("Fake grabber (usb-0)", "format"), "YUYV 320x240");
}

// A grabber pulled while Video Format is open: OK refuses the choice with
// the system's reason, in a box, without a crash; nothing is saved; every
// handle and mapping of the gone device is let go, and the device is
// looked for again at the next stream, as during a run, in the format it
// streamed in.
TEST_F(V4l2DialogTest, VideoFormatAnsweredAfterTheGrabberWasPulledRefusesTheChoice) {
    struct Case {
        const char *name;
        int button;     // the size chosen: 0 is the one streaming
        bool liveView;  // live frames run under the dialog and notice the pull first
    };
    const Case cases[] = {
        {"another format", 1, false},
        {"the same format", 0, false},
        {"another format, live view on", 1, true},
    };
    std::string node = "/dev/video0";
    int back = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t boxesBefore = boxes().size();
        SendMessageA(window_, WM_CAP_SET_PREVIEWRATE, 40, 0);
        SendMessageA(window_, WM_CAP_SET_PREVIEW, c.liveView, 0);
        user().after(10, [&] {
            fake_->unplug(node);
            noctil::test::clickItem(noctil::test::findDialog("Video Format"),
                                    plat::avicap::kFormatButtonFirst + c.button);
        });
        user().after(200, [] { noctil::test::clickItem(noctil::test::findDialog("Video Format"), IDOK); });
        user().after(300, [] { noctil::test::pressEnter(); });  // the refusal's message box
        testing::internal::CaptureStderr();
        EXPECT_FALSE(SendMessageA(window_, WM_CAP_DLG_VIDEOFORMAT, 0, 0));
        SendMessageA(window_, WM_CAP_SET_PREVIEW, FALSE, 0);
        settle(window_);
        testing::internal::GetCapturedStderr();
        const std::vector<std::string> texts = boxes();
        ASSERT_GT(texts.size(), boxesBefore);
        const std::string &refusal = texts[boxesBefore];
        EXPECT_NE(refusal.find("refused the format"), std::string::npos) << refusal;
        EXPECT_NE(refusal.find(std::strerror(ENODEV)), std::string::npos) << refusal;
        EXPECT_EQ(setting("Fake grabber (usb-0)", "format"), "<none>") << "a refused choice is not saved";
        EXPECT_EQ(device(node.c_str()).log->opens, device(node.c_str()).log->closes) << "the gone device let go";
        EXPECT_EQ(device(node.c_str()).log->maps, device(node.c_str()).log->unmaps) << "its buffers unmapped";

        const std::string nodeBack = "/dev/video" + std::to_string(++back);
        fake_->plugBackIn(node, nodeBack, grabber(nodeBack, "usb-0"));
        node = nodeBack;
        setStreaming(window_, 33000, 2);
        SendMessageA(window_, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
        StreamRecorder rec;
        rec.onFrame = [&](HWND window, VIDEOHDR &) { SendMessageA(window, WM_CAP_STOP, 0, 0); };
        EXPECT_TRUE(SendMessageA(window_, WM_CAP_SEQUENCE_NOFILE, 0, 0)) << "found again at the next stream";
        ASSERT_EQ(rec.deliveries.size(), 1u);
        EXPECT_EQ(rec.deliveries[0].bufferLength, 640u * 2 * 480) << "in the format it streamed in";
    }
}

TEST_F(CaptureTest, TheSimulatedCamerasGainAndSkyAreKept) {
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    user().at(10, [] {
        HWND d = noctil::test::findDialog("Video Source");
        ASSERT_NE(d, nullptr);
        noctil::test::typeInto(d, plat::avicap::kFieldEditFirst, "250");
        noctil::test::typeInto(d, plat::avicap::kFieldEditFirst + 1, "7");
        noctil::test::clickItem(d, IDOK);
    });
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DLG_VIDEOSOURCE, 0, 0));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_DISCONNECT, 0, 0));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    std::string gain, sky;
    user().at(100, [&] {
        HWND d = noctil::test::findDialog("Video Source");
        ASSERT_NE(d, nullptr);
        gain = noctil::test::itemText(d, plat::avicap::kFieldEditFirst);
        sky = noctil::test::itemText(d, plat::avicap::kFieldEditFirst + 1);
        noctil::test::clickItem(d, IDCANCEL);
    });
    SendMessageA(w, WM_CAP_DLG_VIDEOSOURCE, 0, 0);
    EXPECT_EQ(gain, "250");
    EXPECT_EQ(sky, "7");
}

}  // namespace
