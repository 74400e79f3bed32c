// The platform fixture with the machine's driver list written as a capture
// test needs it.
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
#include "stream_recorder.h"
#include "files/paths.h"
#include "dialog_user.h"
#include "user/window_system.h"

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

    // Lets posted messages (a report to the user) run, answering a message
    // box with Enter.
    void settle(HWND window) {
        bool done = false;
        user().after(1, [&] {
            noctil::test::pressEnter();
            done = true;
            PostMessageA(window, WM_NULL, 0, 0);
        });
        plat::user::runModalLoop([&] { return done; });
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
