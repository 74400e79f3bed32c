// The capture window's messages over test drivers: the driver list,
// connecting, status and sequence parameters, streaming on the virtual
// clock, live video through the message loop, capture files.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "avifile/avi_reader.h"
#include "capture_fixture.h"
#include "user/window_system.h"

namespace {

using noctil::test::ExpectedCapture;
using noctil::test::kCapFrame;
using noctil::test::kCapNested;
using noctil::test::kCapSent;
using noctil::test::kCapValue;
using plat::avicap::DriverCaps;
using plat::avicap::makeFormat;
using plat::avicap::TestDriverPlan;

TestDriverPlan named(const std::string &description) {
    TestDriverPlan plan;
    plan.description = description;
    return plan;
}

std::string description(UINT index) {
    char name[80] = "untouched", version[100] = "untouched";
    if (!capGetDriverDescriptionA(index, name, sizeof name, version, sizeof version)) return "<none>";
    return name;
}

// ---- The driver list -------------------------------------------------------------------

TEST_F(CaptureTest, WithoutConfigurationTheSimulatedCameraIsDriverZero) {
    EXPECT_EQ(description(0), "Simulated CCTV camera");
    for (UINT i = 1; i < 10; ++i) EXPECT_EQ(description(i), "<none>") << "index " << i;
    EXPECT_EQ(description(10), "<none>");
}

TEST_F(CaptureTest, ListedDriversKeepTheirIndexesAndUnknownNamesAreLeftOutLoudly) {
    plat::avicap::registerTestDriver("alpha", named("Alpha camera"));
    plat::avicap::registerTestDriver("beta", named("Beta two words"));
    writeDriverList("msvideo=alpha\nmsvideo2=  BETA  \nmsvideo3=nosuch\nmsvideo4=simcam\nmsvideo5=\n");
    testing::internal::CaptureStderr();
    const std::vector<std::string> expected = {
        "Alpha camera", "<none>", "Beta two words", "<none>", "Simulated CCTV camera",
        "<none>",       "<none>", "<none>",         "<none>", "<none>"};
    for (UINT i = 0; i < 10; ++i) EXPECT_EQ(description(i), expected[i]) << "index " << i;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("msvideo3=nosuch"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one line for the one unknown name: " << err;
}

TEST_F(CaptureTest, DescriptionsAreCutToTheBufferWithATerminator) {
    installTestDrivers({{0, named("A rather long driver description")}});
    char name[8], version[4];
    std::memset(name, 'x', sizeof name);
    std::memset(version, 'x', sizeof version);
    ASSERT_TRUE(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version));
    EXPECT_STREQ(name, "A rathe");
    EXPECT_STREQ(version, "Tes");
}

// ---- Connecting ---------------------------------------------------------------------------

TEST_F(CaptureTest, ConnectReplacesTheDriverAndAFailedConnectLeavesNone) {
    TestDriverPlan small = named("Small");
    TestDriverPlan large = named("Large");
    large.formats = {makeFormat(640, 480, 24, BI_RGB)};
    TestDriverPlan broken = named("Broken");
    broken.failsToOpen = true;
    installTestDrivers({{0, small}, {1, large}, {2, broken}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(IsWindow(w));

    struct Step {
        WPARAM index;
        BOOL connected;
        UINT width, height;
        int smallOpen, largeOpen;  // opens minus closes afterwards
    };
    const Step steps[] = {
        {0, TRUE, 320, 240, 1, 0}, {1, TRUE, 640, 480, 0, 1}, {1, TRUE, 640, 480, 0, 1}, {2, FALSE, 0, 0, 0, 0},
        {0, TRUE, 320, 240, 1, 0}, {7, FALSE, 0, 0, 0, 0},    {12, FALSE, 0, 0, 0, 0},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step &s = steps[i];
        EXPECT_EQ(SendMessageA(w, WM_CAP_DRIVER_CONNECT, s.index, 0), s.connected) << "step " << i;
        const CAPSTATUS st = status(w);
        EXPECT_EQ(st.uiImageWidth, s.width) << "step " << i;
        EXPECT_EQ(st.uiImageHeight, s.height) << "step " << i;
        EXPECT_EQ(small.log->opens - small.log->closes, s.smallOpen) << "step " << i;
        EXPECT_EQ(large.log->opens - large.log->closes, s.largeOpen) << "step " << i;
    }
    EXPECT_EQ(broken.log->failedOpens, 1);
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    DestroyWindow(w);
    EXPECT_EQ(small.log->opens, small.log->closes) << "destroying the window closes its driver";
}

TEST_F(CaptureTest, CapsFollowTheDriver) {
    TestDriverPlan plain = named("Plain");
    TestDriverPlan full = named("Full");
    full.caps = DriverCaps{.overlay = true, .sourceDialog = true, .formatDialog = true};
    installTestDrivers({{0, plain}, {3, full}});
    HWND w = makeCaptureWindow();
    CAPDRIVERCAPS caps;
    std::memset(&caps, 0x55, sizeof caps);
    EXPECT_FALSE(SendMessageA(w, WM_CAP_DRIVER_GET_CAPS, sizeof caps, reinterpret_cast<LPARAM>(&caps)))
        << "no driver connected";

    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 3, 0));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_GET_CAPS, sizeof caps, reinterpret_cast<LPARAM>(&caps)));
    EXPECT_EQ(caps.wDeviceIndex, 3u);
    EXPECT_TRUE(caps.fHasOverlay && caps.fHasDlgVideoSource && caps.fHasDlgVideoFormat);

    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_GET_CAPS, sizeof caps, reinterpret_cast<LPARAM>(&caps)));
    EXPECT_EQ(caps.wDeviceIndex, 0u);
    EXPECT_FALSE(caps.fHasOverlay || caps.fHasDlgVideoSource || caps.fHasDlgVideoFormat);
}

// ---- Sequence parameters ----------------------------------------------------------------

TEST_F(CaptureTest, SequenceSetupStartsAtItsDefaultsAndRoundTrips) {
    HWND w = makeCaptureWindow();
    CAPTUREPARMS p = sequenceSetup(w);
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 66667u);
    EXPECT_FALSE(p.fYield);
    EXPECT_TRUE(p.fCaptureAudio);
    EXPECT_FALSE(p.fLimitEnabled);
    EXPECT_EQ(p.wTimeLimit, 0u);

    p.dwRequestMicroSecPerFrame = 33000;
    p.fCaptureAudio = FALSE;
    p.fLimitEnabled = TRUE;
    p.wTimeLimit = 2;
    p.wChunkGranularity = 512;
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p)));
    const CAPTUREPARMS back = sequenceSetup(w);
    EXPECT_EQ(std::memcmp(&back, &p, sizeof p), 0);

    // Each window keeps its own.
    EXPECT_EQ(sequenceSetup(makeCaptureWindow()).dwRequestMicroSecPerFrame, 66667u);
}

TEST_F(CaptureTest, SequenceSetupChecksSizeAndInterval) {
    HWND w = makeCaptureWindow();
    CAPTUREPARMS p = sequenceSetup(w);
    p.dwRequestMicroSecPerFrame = 0;
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p)));
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, 0, reinterpret_cast<LPARAM>(&p)));
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, 0));
    EXPECT_EQ(sequenceSetup(w).dwRequestMicroSecPerFrame, 66667u) << "refused records change nothing";

    // A shorter record sets only the fields it holds.
    p = sequenceSetup(w);
    p.dwRequestMicroSecPerFrame = 40000;
    p.fCaptureAudio = FALSE;
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, sizeof(DWORD), reinterpret_cast<LPARAM>(&p)));
    EXPECT_EQ(sequenceSetup(w).dwRequestMicroSecPerFrame, 40000u);
    EXPECT_TRUE(sequenceSetup(w).fCaptureAudio);

    // Reading into a shorter record writes no further than its size.
    unsigned char bytes[sizeof(CAPTUREPARMS)];
    std::memset(bytes, 0xAB, sizeof bytes);
    ASSERT_TRUE(SendMessageA(w, WM_CAP_GET_SEQUENCE_SETUP, 4, reinterpret_cast<LPARAM>(bytes)));
    EXPECT_EQ(bytes[4], 0xAB);
}

// ---- Streaming ----------------------------------------------------------------------------

TEST_F(CaptureTest, StreamDeliversFramesAtTheIntervalUntilTheTimeLimit) {
    TestDriverPlan plan = named("Paced");
    installTestDrivers({{0, plan}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    struct Case {
        DWORD interval;
        UINT limit;
        std::size_t frames;  // frame n at n * interval, while that is before the limit
    };
    const Case cases[] = {{33000, 2, 61}, {40000, 2, 50}, {66667, 2, 30}, {250000, 1, 4}, {33000, 0, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.interval << " us, " << c.limit << " s");
        setStreaming(w, c.interval, c.limit);
        CAPTUREPARMS p = sequenceSetup(w);
        p.fLimitEnabled = TRUE;  // a limit of 0 seconds too
        SendMessageA(w, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
        StreamRecorder rec;
        const std::size_t framesBefore = plan.log->frameBuffers.size();
        const plat::Micros start = now();
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
        ASSERT_EQ(rec.deliveries.size(), c.frames);
        EXPECT_EQ(now(), start + plat::Micros{c.limit} * 1000000) << "the stream lasts to its limit";
        const std::size_t frameSize = 320 * 3 * 240;
        for (std::size_t i = 0; i < rec.deliveries.size(); ++i) {
            const Delivery &d = rec.deliveries[i];
            EXPECT_EQ(d.time, start + static_cast<plat::Micros>(i * c.interval)) << "frame " << i;
            EXPECT_EQ(d.timeCaptured, static_cast<DWORD>(i * c.interval / 1000)) << "frame " << i;
            EXPECT_EQ(d.bufferLength, frameSize);
            EXPECT_EQ(d.bytesUsed, frameSize);
            EXPECT_EQ(d.data, rec.deliveries[0].data) << "frame " << i << " in another buffer";
            EXPECT_EQ(plan.log->frameBuffers[framesBefore + i], rec.deliveries[0].data);
        }
        EXPECT_EQ(status(w).dwCurrentVideoFrame, c.frames);
        EXPECT_FALSE(status(w).fCapturingNow);
    }
}

TEST_F(CaptureTest, StopEndsTheStreamAfterTheCallbackThatSentIt) {
    installTestDrivers({{0, named("Stoppable")}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    setStreaming(w, 33000, 2);
    StreamRecorder rec;
    rec.onFrame = [&](HWND window, VIDEOHDR &) {
        if (rec.deliveries.size() == 4) {
            EXPECT_TRUE(status(window).fCapturingNow);
            rec.send(window, WM_CAP_STOP);
        }
    };
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    const plat::Micros start = now();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
    // The test driver numbers its frames in their first byte. The stop is
    // granted at once, and no frame follows the callback that sent it.
    const ExpectedCapture kStopFromFrameFour[] = {
        {kCapFrame, 0, kCapValue, 1},
        {kCapFrame, 0, kCapValue, 2},
        {kCapFrame, 0, kCapValue, 3},
        {kCapFrame, 0, kCapValue, 4},
        {kCapSent, WM_CAP_STOP, kCapValue, TRUE},
    };
    EXPECT_TRUE(captureSequenceMatches("stop from frame 4", kStopFromFrameFour, rec.calls));
    EXPECT_EQ(now(), start + 3 * 33000) << "nothing waits after the stop";
    EXPECT_FALSE(SendMessageA(w, WM_CAP_STOP, 0, 0)) << "no stream to stop any more";
}

TEST_F(CaptureTest, ADriverThatDeliversInsideTheStopRequestNestsOneFrame) {
    TestDriverPlan plan = named("Re-entrant");
    plan.deliversFrameOnStop = true;
    installTestDrivers({{0, plan}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    setStreaming(w, 33000, 2);
    StreamRecorder rec;
    // Every frame asks to stop, nested ones included, as the program's
    // render step does.
    rec.onFrame = [&](HWND window, VIDEOHDR &) { rec.send(window, WM_CAP_STOP); };
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));

    // The extra frame arrives inside the first callback's stop request, and
    // its own stop returns before the outer one.
    const ExpectedCapture kOneNestedFrame[] = {
        {kCapFrame},
        {kCapFrame, 0, kCapNested},
        {kCapSent, WM_CAP_STOP, kCapNested | kCapValue, TRUE},
        {kCapSent, WM_CAP_STOP, kCapValue, TRUE},
    };
    EXPECT_TRUE(captureSequenceMatches("every frame asks to stop", kOneNestedFrame, rec.calls));
    ASSERT_EQ(rec.deliveries.size(), 2u);
    EXPECT_NE(rec.deliveries[1].data, rec.deliveries[0].data) << "the outer frame is still in use";
    EXPECT_EQ(plan.log->stopRequests, 2);
    EXPECT_EQ(plan.log->extraFrames, 1);
}

TEST_F(CaptureTest, StreamsThatCouldNeverEndAreRefused) {
    installTestDrivers({{0, named("Endless")}});
    HWND w = makeCaptureWindow();
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0)) << "no driver";
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    setStreaming(w, 33000, 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0)) << "no callback and no limit";
    EXPECT_NE(testing::internal::GetCapturedStderr().find("never stop"), std::string::npos);
    EXPECT_EQ(now(), 0);
}

TEST_F(CaptureTest, AStreamStartedInsideAStreamIsRefused) {
    installTestDrivers({{0, named("Once")}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    setStreaming(w, 33000, 1);
    StreamRecorder rec;
    rec.onFrame = [&](HWND window, VIDEOHDR &) {
        rec.send(window, WM_CAP_SEQUENCE_NOFILE);
        rec.send(window, WM_CAP_DRIVER_CONNECT);
        rec.send(window, WM_CAP_STOP);
    };
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
    // A second stream and a new driver are refused while the stream runs.
    const ExpectedCapture kRefusedInside[] = {
        {kCapFrame},
        {kCapSent, WM_CAP_SEQUENCE_NOFILE, kCapValue, FALSE},
        {kCapSent, WM_CAP_DRIVER_CONNECT, kCapValue, FALSE},
        {kCapSent, WM_CAP_STOP, kCapValue, TRUE},
    };
    EXPECT_TRUE(captureSequenceMatches("stream and connect from a frame", kRefusedInside, rec.calls));
    EXPECT_EQ(rec.deliveries.size(), 1u);
}

TEST_F(CaptureTest, ACallbackThatDestroysTheWindowEndsTheStream) {
    TestDriverPlan plan = named("Doomed");
    installTestDrivers({{0, plan}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    setStreaming(w, 33000, 2);
    StreamRecorder rec;
    rec.onFrame = [&](HWND window, VIDEOHDR &) {
        if (rec.deliveries.size() == 2) DestroyWindow(window);
    };
    SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
    SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0);
    EXPECT_EQ(rec.deliveries.size(), 2u);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(plan.log->opens, plan.log->closes);
}

// ---- Capture files ----------------------------------------------------------------------

std::string run(const std::string &command) {
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, p)) out += buffer;
        pclose(p);
    }
    return out;
}

TEST_F(CaptureTest, CaptureFileHoldsEveryFrameAfterTheCallbackChangedIt) {
    TestDriverPlan plan = named("Filer");
    plan.formats = {makeFormat(320, 240, 24, BI_RGB), makeFormat(320, 240, 16, plat::avicap::kFourccYUY2)};
    installTestDrivers({{0, plan}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    setStreaming(w, 40000, 2);

    struct Case {
        int format;
        const char *pixFmt;
    };
    for (const Case &c : {Case{0, "bgr24"}, Case{1, "yuyv422"}}) {
        SCOPED_TRACE(c.pixFmt);
        BITMAPINFOHEADER f = makeFormat(320, 240, c.format ? 16 : 24, c.format ? plat::avicap::kFourccYUY2 : BI_RGB);
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_VIDEOFORMAT, sizeof f, reinterpret_cast<LPARAM>(&f)));
        StreamRecorder rec;
        rec.onFrame = [&](HWND window, VIDEOHDR &header) {
            header.lpData[0] = 0xEE;  // what the callback leaves is what the file gets
            if (rec.deliveries.size() == 5) SendMessageA(window, WM_CAP_STOP, 0, 0);
        };
        SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&StreamRecorder::callback));
        ASSERT_TRUE(SendMessageA(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>("C:\\_CAPTEST.AVI")));
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE, 0, 0));
        ASSERT_TRUE(SendMessageA(w, WM_CAP_FILE_SAVEASA, 0, reinterpret_cast<LPARAM>("C:\\copies\\saved.avi")));
        EXPECT_TRUE(status(w).fCapFileExists);

        const auto file = plat::nativePath("C:\\_CAPTEST.AVI");
        const auto copy = plat::nativePath("C:\\copies\\saved.avi");
        ASSERT_TRUE(std::filesystem::exists(file));
        EXPECT_EQ(std::filesystem::file_size(copy), std::filesystem::file_size(file));
        const std::string probe =
            run("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                "stream=width,height,pix_fmt,nb_read_frames,r_frame_rate -of csv=p=0 '" +
                copy.string() + "' 2>&1");
        EXPECT_EQ(probe, std::string("320,240,") + c.pixFmt + ",25/1,5\n");
        auto reader = plat::avi::Reader::open(file);
        ASSERT_TRUE(reader);
        ASSERT_EQ(reader->frameCount(), 5u);
        for (std::size_t i = 0; i < 5; ++i) {
            std::vector<std::uint8_t> frame;
            ASSERT_TRUE(reader->readFrame(i, frame));
            ASSERT_EQ(frame.size(), rec.deliveries[i].bytesUsed);
            EXPECT_EQ(frame[0], 0xEE) << "frame " << i << " as the callback left it";
            EXPECT_EQ(frame[1], static_cast<std::uint8_t>(plan.log->frameTimes.size() - 4 + i)) << "frame " << i;
        }
    }
}

TEST_F(CaptureTest, SavingWithoutACaptureFileFails) {
    HWND w = makeCaptureWindow();
    EXPECT_FALSE(SendMessageA(w, WM_CAP_FILE_SAVEASA, 0, reinterpret_cast<LPARAM>("C:\\copy.avi")));
    char name[8];
    ASSERT_TRUE(SendMessageA(w, WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof name, reinterpret_cast<LPARAM>(name)));
    EXPECT_STREQ(name, "C:\\CAPT");
}

// ---- Live video -----------------------------------------------------------------------------

TEST_F(CaptureTest, PreviewPaintsFramesAtThePreviewRateThroughTheLoop) {
    TestDriverPlan plan = named("Live");
    installTestDrivers({{0, plan}});
    HWND w = makeCaptureWindow();
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SET_PREVIEW, TRUE, 0)) << "no driver";
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    SendMessageA(w, WM_CAP_SET_PREVIEWRATE, 40, 0);
    const plat::Micros start = now();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_PREVIEW, TRUE, 0));
    EXPECT_TRUE(status(w).fLiveWindow);

    plat::user::runModalLoop([&] { return plan.log->frameTimes.size() >= 5; });
    ASSERT_EQ(plan.log->frameTimes.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(plan.log->frameTimes[i], start + 40000 * (i + 1)) << i;
    const plat::user::PaintSurface *surface = plat::user::paintSurface(w);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->width, 320);
    EXPECT_EQ(surface->height, 240);
    ASSERT_FALSE(surface->bits.empty());
    EXPECT_EQ(surface->bits[0], 5) << "the last frame is on the surface";

    ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_PREVIEW, FALSE, 0));
    EXPECT_FALSE(status(w).fLiveWindow);
    EXPECT_FALSE(plat::user::nextTimerDue().has_value()) << "no live video timer left";
}

// Live frames of every format reach the window through the AVI library's
// decoder: a 24-bit bottom-up picture, packed YUV in limited-range colours.
TEST_F(CaptureTest, PreviewOfPackedYuvPaintsTheDecodedPicture) {
    struct Case {
        std::uint8_t luma;
        std::uint8_t grey;  // each of B, G, R after decoding
    };
    for (const Case &c : {Case{16, 0}, Case{235, 255}, Case{126, 128}}) {
        SCOPED_TRACE(testing::Message() << "Y " << int(c.luma));
        TestDriverPlan plan = named("Packed YUV");
        plan.formats = {makeFormat(64, 48, 16, plat::avicap::kFourccYUY2)};
        std::vector<std::uint8_t> frame(64 * 2 * 48);
        for (std::size_t i = 0; i < frame.size(); i += 2) frame[i] = c.luma, frame[i + 1] = 128;
        plan.frames = {frame};
        installTestDrivers({{0, plan}});
        HWND w = makeCaptureWindow();
        ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
        SendMessageA(w, WM_CAP_SET_PREVIEWRATE, 40, 0);
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_PREVIEW, TRUE, 0));
        plat::user::runModalLoop([&] { return !plan.log->frameTimes.empty(); });
        const plat::user::PaintSurface *surface = plat::user::paintSurface(w);
        ASSERT_NE(surface, nullptr);
        BITMAPINFOHEADER header;
        ASSERT_GE(surface->info.size(), sizeof header);
        std::memcpy(&header, surface->info.data(), sizeof header);
        EXPECT_EQ(header.biBitCount, 24);
        EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(header.biHeight, 48) << "bottom-up rows";
        ASSERT_EQ(surface->bits.size(), 64u * 3 * 48);
        EXPECT_EQ(std::count(surface->bits.begin(), surface->bits.end(), c.grey), 64 * 3 * 48);
        DestroyWindow(w);
    }
}

TEST_F(CaptureTest, OverlayOnlyWithADriverThatHasItAndNeverWithPreview) {
    TestDriverPlan without = named("No overlay");
    TestDriverPlan with = named("Overlay");
    with.caps.overlay = true;
    installTestDrivers({{0, without}, {1, with}});
    HWND w = makeCaptureWindow();
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    EXPECT_FALSE(SendMessageA(w, WM_CAP_SET_OVERLAY, TRUE, 0));
    EXPECT_FALSE(status(w).fOverlayWindow);

    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 1, 0));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_PREVIEW, TRUE, 0));
    ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_OVERLAY, TRUE, 0));
    EXPECT_TRUE(status(w).fOverlayWindow);
    EXPECT_FALSE(status(w).fLiveWindow) << "overlay replaces preview";
    ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
    EXPECT_FALSE(status(w).fOverlayWindow) << "a new driver starts without live video";
}

// ---- Dialogs and formats --------------------------------------------------------------------

TEST_F(CaptureTest, FormatDialogChangesTheStatusSizeOnlyWhenConfirmed) {
    TestDriverPlan picks = named("Picks");
    picks.caps.formatDialog = true;
    picks.formats = {makeFormat(320, 240, 24, BI_RGB), makeFormat(640, 480, 24, BI_RGB)};
    picks.formatDialogPicks = 1;
    TestDriverPlan cancels = picks;
    cancels.formatDialogPicks = -1;
    TestDriverPlan none = named("None");
    installTestDrivers({{0, picks}, {1, cancels}, {2, none}});
    HWND w = makeCaptureWindow();

    struct Case {
        WPARAM driver;
        LRESULT result;
        UINT width;
    };
    for (const Case &c : {Case{0, TRUE, 640}, Case{1, FALSE, 320}, Case{2, FALSE, 320}}) {
        ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, c.driver, 0));
        EXPECT_EQ(SendMessageA(w, WM_CAP_DLG_VIDEOFORMAT, 0, 0), c.result) << "driver " << c.driver;
        EXPECT_EQ(status(w).uiImageWidth, c.width) << "driver " << c.driver;
        EXPECT_EQ(SendMessageA(w, WM_CAP_DLG_VIDEOSOURCE, 0, 0), FALSE) << "no source dialog";
    }
}

TEST_F(CaptureTest, UnimplementedCaptureMessagesAreReportedAndPassedOn) {
    HWND w = makeCaptureWindow();
    testing::internal::CaptureStderr();
    EXPECT_EQ(SendMessageA(w, WM_CAP_GRAB_FRAME, 0, 0), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("WM_CAP_GRAB_FRAME"), std::string::npos) << err;
}

}  // namespace
