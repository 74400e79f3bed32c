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
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app_state.h"
#include "exposure_cycle.h"
#include "core/session.h"
#include "file_text.h"
#include "files/paths.h"
#include "headless_display.h"
#include "port/parallel_port.h"
#include "test_session.h"
#include "user/window_system.h"
#include "resources/resources.h"

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
// WM_CAP_ABORT, and can run a hook while it handles a stop (to deliver a
// nested frame).
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
                                      if (message == WM_CAP_ABORT) {
                                          aborts++;
                                          return 1;
                                      }
                                      return DefWindowProcA(window, message, wParam, lParam);
                                  });
        window =
            CreateWindowExA(0, "NoctilTestCapture", "capture", 0, 0, 0, 160, 120, nullptr, nullptr, nullptr, nullptr);
    }

    HWND window = nullptr;
    int stops = 0;
    int aborts = 0;
    std::function<void()> onStop;
};

// A snapshot window of the program's own class procedure: what it paints is
// the current image as a person sees it.
class SnapshotView {
public:
    SnapshotView()
    {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = SnapshotWndProc;
        wc.hInstance = plat::res::moduleInstance();
        wc.lpszClassName = "NoctilTestSnapshot";
        RegisterClassExA(&wc);
        window = CreateWindowExA(0, "NoctilTestSnapshot", "snapshot", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                 nullptr, wc.hInstance, nullptr);
    }

    struct Image {
        bool drawn = false;  // false: the window painted no image
        BITMAPINFOHEADER header{};
        std::vector<std::uint8_t> rows;
    };
    // Repaints the window and returns the image it drew.
    Image Painted() const
    {
        const plat::user::PaintSurface *before = plat::user::paintSurface(window);
        const std::uint64_t serial = before ? before->serial : 0;
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        Image image;
        const plat::user::PaintSurface *surface = plat::user::paintSurface(window);
        if (!surface || surface->serial == serial || surface->info.size() < sizeof image.header) return image;
        image.drawn = true;
        memcpy(&image.header, surface->info.data(), sizeof image.header);
        image.rows = surface->bits;
        return image;
    }

    HWND window = nullptr;
};

// A run's output format, as the Record command fills it for a capture of
// the given size. Returns the format.
inline BITMAPINFOHEADER SetOutputFormat(LONG width, LONG height)
{
    app.captureStatus.uiImageWidth = (UINT)width;
    app.captureStatus.uiImageHeight = (UINT)height;
    FillOutputFormat();
    return app.outputFormat;
}

// What the program saves in its settings file: the value of a key in
// Noctil.ini as the program writes it at its end ("(not saved)" when absent).
inline std::string SavedSetting(const std::string &section, const std::string &key)
{
    SaveSettings();
    std::istringstream file(noctil::test::readAll(plat::windowsDirectory() / "Noctil.ini"));
    std::string line, current;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '[')
            current = line;
        else if (current == "[" + section + "]" && line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    }
    return "(not saved)";
}

}  // namespace noctil_test
