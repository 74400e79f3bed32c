// A recorder for the video-stream callback of a capture window: what the
// callback saw of each frame, with the platform clock's time and whether the
// frame came nested inside another one's callback.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <functional>
#include <vector>

#include "core/session.h"

// What the video-stream callback saw of one frame.
struct Delivery {
    plat::Micros time;  // platform clock when the callback ran
    const BYTE *data;
    DWORD bufferLength, bytesUsed, timeCaptured;
    int depth;  // 0 for a frame of the stream, 1 for one nested in it
};

// The callback is a plain function; it reports to the recorder of the test
// that runs.
class StreamRecorder {
public:
    StreamRecorder() { current() = this; }
    ~StreamRecorder() { current() = nullptr; }

    std::vector<Delivery> deliveries;
    // Runs inside the callback for each frame, after it was recorded.
    std::function<void(HWND, VIDEOHDR &)> onFrame;

    static LRESULT CALLBACK callback(HWND window, LPVIDEOHDR header) {
        StreamRecorder *r = current();
        if (!r) return TRUE;
        r->deliveries.push_back({plat::session().clock().now(), header->lpData, header->dwBufferLength,
                                 header->dwBytesUsed, header->dwTimeCaptured, r->depth_});
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
