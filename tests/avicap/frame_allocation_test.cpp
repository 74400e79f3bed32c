// Frames of a running capture window allocate nothing: live video frames
// through the message loop, repaints of the window, and streamed frames on
// their way to the video-stream callback. Each case lets the first frames
// size the buffers, then counts the heap over the frames that follow.
#include <windows.h>
#include <vfw.h>

#include "alloc_counter.h"
#include "capture_fixture.h"
#include "user/window_system.h"

namespace {

using plat::avicap::makeFormat;
using plat::avicap::TestDriverPlan;

struct FormatCase {
    const char *name;
    BITMAPINFOHEADER format;
};

const FormatCase kFormats[] = {
    {"24-bit RGB", makeFormat(320, 240, 24, BI_RGB)},
    {"packed YUV", makeFormat(640, 480, 16, plat::avicap::kFourccYUY2)},
};

// A driver whose log has room for every frame a case makes, so that the
// test's own bookkeeping allocates nothing either.
TestDriverPlan roomyPlan(const BITMAPINFOHEADER &format) {
    TestDriverPlan plan;
    plan.formats = {format};
    plan.log->frameTimes.reserve(256);
    plan.log->frameBuffers.reserve(256);
    return plan;
}

// The program's own loop: messages until the driver has made `frames`.
void pumpUntil(const TestDriverPlan &plan, std::size_t frames) {
    MSG msg;
    while (plan.log->frameTimes.size() < frames && GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

TEST_F(CaptureTest, LiveVideoFramesAndRepaintsAllocateNothing) {
    for (const FormatCase &c : kFormats) {
        SCOPED_TRACE(c.name);
        TestDriverPlan plan = roomyPlan(c.format);
        installTestDrivers({{0, plan}});
        HWND w = makeCaptureWindow();
        ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
        SendMessageA(w, WM_CAP_SET_PREVIEWRATE, 33, 0);
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SET_PREVIEW, TRUE, 0));
        pumpUntil(plan, 3);
        const plat::user::PaintSurface *surface = plat::user::paintSurface(w);
        ASSERT_NE(surface, nullptr);
        const std::uint64_t serial = surface->serial;

        std::size_t frames = 0, repaints = 0;
        {
            alloc_counter::Scope scope;
            pumpUntil(plan, 30);
            frames = scope.count();
            InvalidateRect(w, nullptr, FALSE);
            UpdateWindow(w);
            repaints = scope.count() - frames;
        }
        EXPECT_EQ(frames, 0u) << "over 27 live frames";
        EXPECT_EQ(repaints, 0u);
        EXPECT_EQ(plan.log->frameTimes.size(), 30u);
        EXPECT_EQ(surface, plat::user::paintSurface(w)) << "the same surface, painted anew";
        EXPECT_EQ(surface->serial, serial + 28) << "27 frames and one repaint";
        EXPECT_EQ(surface->width, c.format.biWidth);
        DestroyWindow(w);
    }
}

// What the video-stream callback below saw of the heap: the count when the
// first frame arrived and when the last one left.
struct HeapAtFrames {
    int frames = 0;
    std::size_t atFirst = 0, atLast = 0;
    HWND window = nullptr;
    int stopAt = 0;  // sends WM_CAP_STOP from this frame's callback
};
HeapAtFrames heapAtFrames;

LRESULT CALLBACK countingCallback(HWND, LPVIDEOHDR header) {
    HeapAtFrames &h = heapAtFrames;
    if (h.frames++ == 0) h.atFirst = alloc_counter::counted();
    header->lpData[0] ^= 0xFF;  // the callback may change the frame in place
    if (h.frames == h.stopAt) SendMessageA(h.window, WM_CAP_STOP, 0, 0);
    h.atLast = alloc_counter::counted();
    return TRUE;
}

TEST_F(CaptureTest, StreamedFramesReachTheCallbackWithoutAllocation) {
    for (const FormatCase &c : kFormats) {
        SCOPED_TRACE(c.name);
        TestDriverPlan plan = roomyPlan(c.format);
        plan.deliversFrameOnStop = true;  // a frame nested in the stop request, too
        installTestDrivers({{0, plan}});
        HWND w = makeCaptureWindow();
        ASSERT_TRUE(SendMessageA(w, WM_CAP_DRIVER_CONNECT, 0, 0));
        setStreaming(w, 40000, 2);
        SendMessageA(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(countingCallback));
        // The first stream brings up what every stream shares.
        heapAtFrames = HeapAtFrames{0, 0, 0, w, 2};
        ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));

        heapAtFrames = HeapAtFrames{0, 0, 0, w, 20};
        {
            alloc_counter::Scope scope;
            ASSERT_TRUE(SendMessageA(w, WM_CAP_SEQUENCE_NOFILE, 0, 0));
        }
        EXPECT_EQ(heapAtFrames.frames, 21) << "20 frames and the one delivered inside the stop request";
        EXPECT_EQ(heapAtFrames.atLast - heapAtFrames.atFirst, 0u);
        EXPECT_EQ(plan.log->extraFrames, 2);
        DestroyWindow(w);
    }
}

}  // namespace
