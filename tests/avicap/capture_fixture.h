// The platform fixture with the machine's driver list written as a capture
// test needs it, and a recorder for the video-stream callback.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "test_drivers.h"
#include "core/session.h"
#include "platform_fixture.h"
#include "files/paths.h"

// What the video-stream callback saw of one frame.
struct Delivery {
    plat::Micros time;          // platform clock when the callback ran
    const BYTE *data;
    DWORD bufferLength, bytesUsed, timeCaptured;
    int depth;                  // 0 for a frame of the stream, 1 for one nested in it
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

// The platform fixture of every test, with the machine's driver list and
// the capture messages the tests keep sending.
class CaptureTest : public noctil::test::PlatformTest {
protected:
    plat::Micros now() const { return plat::session().clock().now(); }

    // Writes system.ini with [drivers32] holding exactly these lines.
    void writeDriverList(const std::string &lines) {
        std::ofstream ini(plat::windowsDirectory() / "system.ini");
        ini << "[drivers32]\n" << lines;
    }

    // Registers each plan under "test<index>" and lists it at its index.
    void installTestDrivers(const std::map<int, plat::avicap::TestDriverPlan> &drivers) {
        std::string lines;
        for (const auto &[index, plan] : drivers) {
            const std::string name = "test" + std::to_string(index);
            plat::avicap::registerTestDriver(name, plan);
            lines += (index ? "msvideo" + std::to_string(index) : std::string("msvideo")) + "=" + name + "\n";
        }
        writeDriverList(lines);
    }

    static HWND makeCaptureWindow() {
        return capCreateCaptureWindowA("Capture Window", WS_VISIBLE, 0, 0, 160, 120, nullptr, 0);
    }

    static CAPSTATUS status(HWND window) {
        CAPSTATUS s{};
        SendMessageA(window, WM_CAP_GET_STATUS, sizeof s, reinterpret_cast<LPARAM>(&s));
        return s;
    }

    static CAPTUREPARMS sequenceSetup(HWND window) {
        CAPTUREPARMS p{};
        SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
        return p;
    }

    // Interval and limit for the streams of a test; audio off.
    static void setStreaming(HWND window, DWORD microsPerFrame, UINT limitSeconds) {
        CAPTUREPARMS p = sequenceSetup(window);
        p.dwRequestMicroSecPerFrame = microsPerFrame;
        p.fCaptureAudio = FALSE;
        p.fLimitEnabled = limitSeconds != 0;
        p.wTimeLimit = limitSeconds;
        SendMessageA(window, WM_CAP_SET_SEQUENCE_SETUP, sizeof p, reinterpret_cast<LPARAM>(&p));
    }

};
