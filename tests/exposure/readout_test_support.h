// A fresh platform session and program state for tests that call the
// program's readout and image functions directly, with a stand-in capture
// window that records the stop requests it receives.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <cstring>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app_state.h"
#include "core/session.h"
#include "headless_display.h"
#include "port/parallel_port.h"
#include "test_session.h"
#include "user/window_system.h"

namespace noctil_test {

class ProgramSession {
public:
    ProgramSession() : session_("noctil-readout") { InitAppState(); }
    ~ProgramSession()
    {
        free(app.lastImage);
        app.lastImage = nullptr;
    }

    const std::filesystem::path &root() const { return session_.root(); }

    std::vector<std::uint8_t> portValues() const
    {
        std::vector<std::uint8_t> values;
        for (const plat::PortWrite &write : plat::session().component<plat::ParallelPort>().writes())
            if (write.address == CAMERA_PORT_ADDRESS) values.push_back(write.value);
        return values;
    }

    std::size_t beeps() const
    {
        return dynamic_cast<plat::HeadlessDisplay &>(plat::session().display()).beeps().size();
    }

private:
    noctil::test::TestSession session_;
};

// A window that stands in for the capture window: it counts WM_CAP_STOP and
// can run a hook while it handles one (to deliver a nested frame).
class StopRecorder {
public:
    StopRecorder()
    {
        plat::user::registerClass("NoctilTestCapture",
                                  [this](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
                                      if (message == WM_CAP_STOP) {
                                          stops++;
                                          if (onStop) onStop();
                                          return 1;
                                      }
                                      return DefWindowProcA(window, message, wParam, lParam);
                                  });
        window =
            CreateWindowExA(0, "NoctilTestCapture", "capture", 0, 0, 0, 160, 120, nullptr, nullptr, nullptr, nullptr);
    }

    HWND window = nullptr;
    int stops = 0;
    std::function<void()> onStop;
};

// A run's output format, as the Record command fills it: 24-bit rows of the
// given size, each padded to four bytes.
inline void SetOutputFormat(LONG width, LONG height)
{
    memset(&app.outputFormat, 0, sizeof app.outputFormat);
    app.outputFormat.biSize = sizeof(BITMAPINFOHEADER);
    app.outputFormat.biWidth = width;
    app.outputFormat.biHeight = height;
    app.outputFormat.biPlanes = 1;
    app.outputFormat.biBitCount = 24;
    app.outputFormat.biSizeImage = (DWORD)(((width * 3 + 3) & ~3) * height);
}

}  // namespace noctil_test
