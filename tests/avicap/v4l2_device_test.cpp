// The V4L2 device layer against the scripted fake: which nodes are capture
// devices, the formats and sizes it can hand over, inputs, standards and
// controls, and frames on the virtual clock in every field layout, with bad
// frames, interrupted calls and a device that disappears.
#include <cerrno>
#include <cstring>

#include "alloc_counter.h"
#include "avicap/v4l2/v4l2_device.h"
#include "avicap/v4l2/v4l2_driver.h"
#include "avicap/v4l2/v4l2_listing.h"
#include "core/session.h"
#include "fake_v4l2.h"
#include "platform_fixture.h"

namespace {

using namespace plat::avicap::v4l2;
using noctil::test::FakeControl;
using noctil::test::FakeV4l2;
using noctil::test::FakeV4l2Device;
using Outcome = plat::avicap::FrameWait::Outcome;

FakeV4l2Device device(std::string node, std::string card = "Fake grabber", std::string bus = "usb-1") {
    FakeV4l2Device d;
    d.node = std::move(node);
    d.card = std::move(card);
    d.bus = std::move(bus);
    return d;
}

class V4l2DeviceTest : public noctil::test::PlatformTest {
protected:
    // A device of `plan`, opened, with 640 x 480 of its first format streaming.
    std::unique_ptr<Device> streaming(FakeV4l2Device plan, FrameFormat format = {V4L2_PIX_FMT_YUYV, 640, 480}) {
        fake_ = std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{std::move(plan)});
        auto d = std::make_unique<Device>(fake_, "/dev/video0");
        EXPECT_TRUE(d->open()) << d->error();
        EXPECT_TRUE(d->init(format)) << d->error();
        EXPECT_TRUE(d->start()) << d->error();
        frame_.assign(bitmapHeader(d->format()).biSizeImage, 0);
        return d;
    }
    plat::Micros now() { return plat::session().clock().now(); }

    std::shared_ptr<FakeV4l2> fake_;
    std::vector<std::uint8_t> frame_;
};

TEST_F(V4l2DeviceTest, OnlyStreamingCaptureDevicesAreListedAndLikeDevicesAreToldApart) {
    FakeV4l2Device metadata = device("/dev/video1", "Fake grabber", "usb-1");
    metadata.deviceCaps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    FakeV4l2Device notVideo = device("/dev/video2");
    notVideo.answersQueryCap = false;
    FakeV4l2Device readOnly = device("/dev/video3");
    readOnly.deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE;
    FakeV4l2 fake({device("/dev/video0"), metadata, notVideo, readOnly, device("/dev/video4", "Fake grabber", "usb-2"),
                   device("/dev/video5", "Fake grabber", "usb-2"), device("/dev/video6", "Other card", "")});
    const std::vector<DeviceListing> listed = listDevices(fake);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"/dev/video0", "Fake grabber (usb-1)"},
        {"/dev/video4", "Fake grabber (usb-2)"},
        {"/dev/video5", "Fake grabber (/dev/video5)"},  // same card on the same bus: the node tells them apart
        {"/dev/video6", "Other card (/dev/video6)"},
    };
    ASSERT_EQ(listed.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(listed[i].node, expected[i].first) << i;
        EXPECT_EQ(listed[i].description, expected[i].second) << i;
    }
    for (const char *node : {"/dev/video0", "/dev/video1", "/dev/video2", "/dev/video3"})
        EXPECT_EQ(fake.device(node).log->opens, fake.device(node).log->closes) << node << " left open";

    Device notCapture(std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{metadata}), "/dev/video1");
    EXPECT_FALSE(notCapture.open());
    EXPECT_EQ(notCapture.error(), "/dev/video1 is not a video-capture device that streams");
    Device noV4l2(std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{notVideo}), "/dev/video2");
    EXPECT_FALSE(noV4l2.open());
    EXPECT_EQ(noV4l2.error(), std::string("VIDIOC_QUERYCAP: ") + std::strerror(ENOTTY));
    Device missing(std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{}), "/dev/video9");
    EXPECT_FALSE(missing.open());
    EXPECT_EQ(missing.error(), std::string("open: ") + std::strerror(ENOENT));
}

TEST_F(V4l2DeviceTest, FormatsAreTheDecodableOnesThatFitTheFrameLimit) {
    FakeV4l2Device plan = device("/dev/video0");
    plan.formats = {{V4L2_PIX_FMT_H264, {{640, 480}}},
                    {V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}},
                    {V4L2_PIX_FMT_UYVY, {{768, 576}}},
                    {V4L2_PIX_FMT_GREY, {{640, 480}}},
                    {V4L2_PIX_FMT_BGR24, {{640, 480}, {768, 576}}},
                    {V4L2_PIX_FMT_XBGR32, {{640, 480}, {720, 480}, {1280, 720}}}};
    auto fake = std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{plan});
    Device d(fake, "/dev/video0");
    ASSERT_TRUE(d.open());
    struct Expected {
        FrameFormat format;
        DWORD compression;
        WORD bitCount;
        LONG height;  // negative: top-down rows
        DWORD bytes;
    };
    const Expected expected[] = {
        {{V4L2_PIX_FMT_YUYV, 640, 480}, 0x32595559, 16, 480, 614400},
        {{V4L2_PIX_FMT_YUYV, 320, 240}, 0x32595559, 16, 240, 153600},
        {{V4L2_PIX_FMT_UYVY, 768, 576}, 0x59565955, 16, 576, 884736},
        {{V4L2_PIX_FMT_GREY, 640, 480}, 0x30303859, 8, 480, 307200},
        {{V4L2_PIX_FMT_BGR24, 640, 480}, BI_RGB, 24, -480, 921600},
        {{V4L2_PIX_FMT_BGR24, 768, 576}, BI_RGB, 24, -576, 1327104},
        {{V4L2_PIX_FMT_XBGR32, 640, 480}, BI_RGB, 32, -480, 1228800},
        {{V4L2_PIX_FMT_XBGR32, 720, 480}, BI_RGB, 32, -480, 1382400},
        // 1280 x 720 in 32 bits (3,686,400 bytes) is larger than a frame
        // may be: not offered.
    };
    const std::vector<FrameFormat> formats = listFrameFormats(d);
    ASSERT_EQ(formats.size(), std::size(expected));
    for (std::size_t i = 0; i < formats.size(); ++i) {
        SCOPED_TRACE(fourccText(expected[i].format.pixelFormat) + " " + std::to_string(expected[i].format.width));
        EXPECT_EQ(formats[i], expected[i].format);
        const BITMAPINFOHEADER h = bitmapHeader(formats[i]);
        EXPECT_EQ(h.biCompression, expected[i].compression);
        EXPECT_EQ(h.biBitCount, expected[i].bitCount);
        EXPECT_EQ(h.biHeight, expected[i].height);
        EXPECT_EQ(h.biSizeImage, expected[i].bytes);
    }
}

TEST_F(V4l2DeviceTest, ARangeOfSizesOffersTheCommonSizesInIt) {
    FakeV4l2Device plan = device("/dev/video0");
    plan.formats = {{V4L2_PIX_FMT_YUYV, {}}};
    auto fake = std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{plan});
    Device d(fake, "/dev/video0");
    ASSERT_TRUE(d.open());
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
    for (const FrameFormat &f : listFrameFormats(d)) sizes.emplace_back(f.width, f.height);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {160, 120}, {320, 240}, {352, 240}, {352, 288}, {640, 480}, {720, 480}, {720, 576}, {768, 576}};
    EXPECT_EQ(sizes, expected);
}

TEST_F(V4l2DeviceTest, InputsStandardsAndControlsWithTheirRanges) {
    FakeV4l2Device plan = device("/dev/video0");
    plan.inputs = {{"Camera", 0}, {"S-Video", V4L2_STD_NTSC | V4L2_STD_PAL}};
    plan.controls = {
        FakeControl{},
        FakeControl{V4L2_CID_AUTOGAIN, "Gain, Automatic", V4L2_CTRL_TYPE_BOOLEAN, 0, 1, 1, 1, 1, {}, false},
        FakeControl{V4L2_CID_POWER_LINE_FREQUENCY,
                    "Power Line Frequency",
                    V4L2_CTRL_TYPE_MENU,
                    0,
                    2,
                    1,
                    1,
                    2,
                    {"Disabled", "50 Hz", "60 Hz"},
                    false},
        FakeControl{V4L2_CID_GAIN, "Gain", V4L2_CTRL_TYPE_INTEGER, 0, 100, 1, 0, 10, {}, true},
        FakeControl{V4L2_CID_USER_BASE + 0x1000, "Private Setting", V4L2_CTRL_TYPE_INTEGER, 0, 9, 1, 0, 0, {}, false},
        FakeControl{V4L2_CID_EXPOSURE_ABSOLUTE,
                    "Exposure Time, Absolute",
                    V4L2_CTRL_TYPE_INTEGER,
                    1,
                    5000,
                    1,
                    100,
                    100,
                    {},
                    false}};
    auto fake = std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{plan});
    Device d(fake, "/dev/video0");
    ASSERT_TRUE(d.open());

    const std::vector<Input> inputs = listInputs(d);
    ASSERT_EQ(inputs.size(), 2u);
    EXPECT_EQ(inputs[1].name, "S-Video");
    EXPECT_TRUE(listStandards(d).empty()) << "the camera input has no TV standard";
    EXPECT_FALSE(currentStandard(d).has_value());
    ASSERT_TRUE(selectInput(d, 1));
    EXPECT_EQ(currentInput(d), 1u);
    const std::vector<Standard> standards = listStandards(d);
    ASSERT_EQ(standards.size(), 2u);
    EXPECT_EQ(standards[0].name, "NTSC-M");
    ASSERT_TRUE(selectStandard(d, V4L2_STD_PAL_BG));
    EXPECT_EQ(currentStandard(d), V4L2_STD_PAL_BG);
    EXPECT_FALSE(selectInput(d, 7));
    EXPECT_EQ(d.error(), std::string("VIDIOC_S_INPUT: ") + std::strerror(EINVAL));

    const std::vector<Control> controls = listControls(d);
    // A driver's private control is left out; a camera control is not.
    ASSERT_EQ(controls.size(), 5u);
    EXPECT_EQ(controls[4].name, "Exposure Time, Absolute");
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[0].maximum, 255);
    EXPECT_EQ(controls[1].type, static_cast<std::uint32_t>(V4L2_CTRL_TYPE_BOOLEAN));
    // In the order of their ids: brightness, automatic gain, gain, power line.
    ASSERT_EQ(controls[3].menu.size(), 3u);
    EXPECT_EQ(controls[3].menu[2].second, "60 Hz");
    EXPECT_EQ(controls[3].value, 2);
    EXPECT_TRUE(setControl(d, V4L2_CID_BRIGHTNESS, 200));
    EXPECT_FALSE(setControl(d, V4L2_CID_BRIGHTNESS, 300));
    EXPECT_EQ(d.error(), std::string("VIDIOC_S_CTRL: ") + std::strerror(ERANGE));
    EXPECT_FALSE(setControl(d, V4L2_CID_GAIN, 50)) << "a control the device rejects";
    EXPECT_EQ(d.error(), std::string("VIDIOC_S_CTRL: ") + std::strerror(EINVAL));
}

// Whatever the device's field layout, row y of the frame handed over holds
// picture row y: the top field in the even rows, the bottom in the odd.
TEST_F(V4l2DeviceTest, EveryFieldLayoutBecomesInterleavedRows) {
    struct Case {
        const char *name;
        std::uint32_t field;
        int periods;  // frame intervals a whole frame takes
    };
    const Case cases[] = {{"none", V4L2_FIELD_NONE, 1},
                          {"interlaced", V4L2_FIELD_INTERLACED, 1},
                          {"top then bottom", V4L2_FIELD_SEQ_TB, 1},
                          {"bottom then top", V4L2_FIELD_SEQ_BT, 1},
                          {"alternating fields", V4L2_FIELD_ALTERNATE, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = device("/dev/video0");
        plan.field = c.field;
        auto d = streaming(plan);
        EXPECT_EQ(d->format().height, 480u);
        const plat::Micros start = now();
        const plat::avicap::FrameWait wait = d->readFrame(std::nullopt, frame_, plat::session().clock());
        ASSERT_EQ(wait.outcome, Outcome::Frame) << d->error();
        EXPECT_EQ(wait.bytesUsed, 640u * 2 * 480);
        EXPECT_EQ(now() - start, c.periods * 33333);
        int wrong = 0;
        for (std::uint32_t y = 0; y < 480; ++y) wrong += noctil::test::fakeRowMark(frame_.data() + y * 1280) != y;
        EXPECT_EQ(wrong, 0) << "rows out of place";
    }
}

TEST_F(V4l2DeviceTest, FramesComeAtTheDevicesPaceUntilTheDeadline) {
    auto d = streaming(device("/dev/video0"));
    const plat::Micros start = now();
    for (int i = 1; i <= 3; ++i) {
        ASSERT_EQ(d->readFrame(start + 100000, frame_, plat::session().clock()).outcome, Outcome::Frame);
        EXPECT_EQ(now(), start + i * 33333) << "frame " << i;
    }
    EXPECT_EQ(d->readFrame(start + 100000, frame_, plat::session().clock()).outcome, Outcome::TimedOut);
    EXPECT_EQ(now(), start + 100000);
    EXPECT_EQ(d->readFrame(start + 100000, frame_, plat::session().clock()).outcome, Outcome::TimedOut)
        << "at the deadline nothing more";
}

// Frames finished while nobody read are old: a capture starting now must
// get a frame that ends after it, within one frame period.
TEST_F(V4l2DeviceTest, DrainingLeavesOnlyFramesThatEndAfterIt) {
    auto d = streaming(device("/dev/video0"));
    plat::session().clock().sleepUntil(now() + 1000000 + 5000);  // 30 frames finished, 4 kept in buffers
    const plat::Micros drained = now();
    d->drain();
    ASSERT_EQ(d->readFrame(std::nullopt, frame_, plat::session().clock()).outcome, Outcome::Frame);
    EXPECT_GT(now(), drained);
    EXPECT_LE(now() - drained, 33333);
}

TEST_F(V4l2DeviceTest, FramesFlaggedBadAreSkipped) {
    FakeV4l2Device plan = device("/dev/video0");
    plan.badFrames = {1, 2};
    auto d = streaming(plan);
    const plat::Micros start = now();
    ASSERT_EQ(d->readFrame(std::nullopt, frame_, plat::session().clock()).outcome, Outcome::Frame);
    EXPECT_EQ(now(), start + 33333);
    ASSERT_EQ(d->readFrame(std::nullopt, frame_, plat::session().clock()).outcome, Outcome::Frame);
    EXPECT_EQ(now(), start + 4 * 33333) << "frames 2 and 3 were bad";
}

TEST_F(V4l2DeviceTest, InterruptedCallsAreRetried) {
    FakeV4l2Device plan = device("/dev/video0");
    plan.interruptOnce = {VIDIOC_QUERYCAP, VIDIOC_S_FMT, VIDIOC_REQBUFS, VIDIOC_STREAMON, VIDIOC_DQBUF, VIDIOC_QBUF};
    plan.interruptPollOnce = true;
    auto d = streaming(plan);
    ASSERT_EQ(d->readFrame(std::nullopt, frame_, plat::session().clock()).outcome, Outcome::Frame) << d->error();
    const std::vector<std::string> &calls = fake_->device("/dev/video0").log->calls;
    for (const char *call : {"VIDIOC_QUERYCAP", "VIDIOC_S_FMT", "VIDIOC_REQBUFS", "VIDIOC_STREAMON"})
        EXPECT_EQ(std::count(calls.begin(), calls.end(), call), 2) << call << " asked again after the signal";
}

// The system's own reason reaches the caller: an unplugged device and a
// stream that broke are told apart (the kernel wakes poll with an error
// condition for both; dequeuing says which).
TEST_F(V4l2DeviceTest, ADeviceThatFailsEndsWithTheCallAndItsOwnReason) {
    struct Case {
        const char *name;
        int disappearAfter, fatalAfter, error;
    };
    for (const Case &c : {Case{"unplugged", 3, -1, ENODEV}, Case{"fatal streaming error", -1, 3, EIO}}) {
        SCOPED_TRACE(c.name);
        FakeV4l2Device plan = device("/dev/video0");
        plan.disappearAfterFrames = c.disappearAfter;
        plan.fatalErrorAfterFrames = c.fatalAfter;
        auto d = streaming(plan);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(d->readFrame(std::nullopt, frame_, plat::session().clock()).outcome, Outcome::Frame) << i;
        EXPECT_FALSE(d->broken());
        EXPECT_EQ(d->readFrame(std::nullopt, frame_, plat::session().clock()).outcome, Outcome::Failed);
        EXPECT_EQ(d->error(), std::string("VIDIOC_DQBUF: ") + std::strerror(c.error));
        EXPECT_EQ(d->errorCode(), c.error);
        EXPECT_TRUE(d->broken());
        d->stop();
        d->uninit();
        d->close();
        EXPECT_EQ(fake_->device("/dev/video0").log->closes, 1);
    }
}

TEST_F(V4l2DeviceTest, ReadingFramesAllocatesNothing) {
    auto d = streaming(device("/dev/video0"));
    ASSERT_EQ(d->readFrame(std::nullopt, frame_, plat::session().clock()).outcome, Outcome::Frame);
    fake_->device("/dev/video0").log->calls.reserve(1000);
    alloc_counter::Scope count;
    for (int i = 0; i < 10; ++i) d->readFrame(std::nullopt, frame_, plat::session().clock());
    d->drain();
    EXPECT_EQ(count.count(), 0u);
}

TEST_F(V4l2DeviceTest, RefusedFormatsAndABusyDeviceNameTheCall) {
    struct Case {
        int error;
        const char *message;
    };
    for (const Case &c : {Case{EINVAL, "VIDIOC_S_FMT: "}, Case{EBUSY, "VIDIOC_S_FMT: "}}) {
        FakeV4l2Device plan = device("/dev/video0");
        plan.setFormatError = c.error;
        auto fake = std::make_shared<FakeV4l2>(std::vector<FakeV4l2Device>{plan});
        Device d(fake, "/dev/video0");
        ASSERT_TRUE(d.open());
        EXPECT_FALSE(d.init({V4L2_PIX_FMT_YUYV, 640, 480}));
        EXPECT_EQ(d.error(), c.message + std::string(std::strerror(c.error)));
        EXPECT_EQ(d.errorCode(), c.error);
    }
}

}  // namespace
