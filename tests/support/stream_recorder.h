// A recorder for the video-stream callback of a capture window: what the
// callback saw of each frame, with the platform clock's time, and the
// capture calls in their order (frames, nested or not, and the messages the
// test's callback sent through send) for a table of capture_sequence.h.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "capture_sequence.h"
#include "core/session.h"

// What the video-stream callback saw of one frame.
struct Delivery {
    plat::Micros time;  // platform clock when the callback ran
    const BYTE *data;
    DWORD bufferLength, bytesUsed, timeCaptured;
};

// The callback is a plain function; it reports to the recorder of the test
// that runs.
class StreamRecorder {
public:
    StreamRecorder() { current() = this; }
    ~StreamRecorder() { current() = nullptr; }

    std::vector<Delivery> deliveries;
    std::vector<noctil::test::RecordedCapture> calls;
    // Runs inside the callback for each frame, after it was recorded.
    std::function<void(HWND, VIDEOHDR &)> onFrame;

    // SendMessageA from inside onFrame, noted in `calls` with its answer
    // once it has returned (after whatever came nested inside it), at the
    // depth of the frame whose callback sent it.
    LRESULT send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        const int depth = std::max(depth_ - 1, 0);
        const LRESULT answer = SendMessageA(window, message, wParam, lParam);
        calls.push_back({noctil::test::kCapSent, message, depth, answer});
        return answer;
    }

    static LRESULT CALLBACK callback(HWND window, LPVIDEOHDR header) {
        StreamRecorder *r = current();
        if (!r) return TRUE;
        r->deliveries.push_back({plat::session().clock().now(), header->lpData, header->dwBufferLength,
                                 header->dwBytesUsed, header->dwTimeCaptured});
        const LRESULT firstByte = header->lpData && header->dwBufferLength ? header->lpData[0] : -1;
        r->calls.push_back({noctil::test::kCapFrame, 0, r->depth_, firstByte});
        ++r->depth_;
        if (r->onFrame) r->onFrame(window, *header);
        --r->depth_;
        return TRUE;
    }

private:
    static StreamRecorder *&current() {
        static StreamRecorder *recorder = nullptr;
        return recorder;
    }
    int depth_ = 0;
};
