// Test windows of a class "Probe" whose procedure records every message it
// gets (with the virtual time) and lets each test answer messages its own way.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform_fixture.h"
#include "user/window_system.h"

namespace noctil::test {

struct Seen {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::uint32_t ms;
};

class UserTest : public PlatformTest {
protected:
    using Handler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

    UserTest() {
        plat::user::registerClass("Probe", [this](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            seen.push_back({w, m, wp, lp, nowMs()});
            if (handler)
                if (auto answer = handler(w, m, wp, lp)) return *answer;
            return DefWindowProcA(w, m, wp, lp);
        });
    }

    HWND make(DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr, int id = 0, const char *title = "probe") {
        return CreateWindowExA(0, "Probe", title, style, 10, 20, 300, 200, parent,
                               reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)), nullptr, nullptr);
    }

    // The messages from `only` that `window` got (any window when null), in order.
    std::vector<UINT> got(HWND window, std::vector<UINT> only) const {
        std::vector<UINT> out;
        for (const Seen &s : seen)
            if ((!window || s.window == window) && std::find(only.begin(), only.end(), s.message) != only.end())
                out.push_back(s.message);
        return out;
    }
    // The windows that got `message`, in order.
    std::vector<HWND> receivers(UINT message) const {
        std::vector<HWND> out;
        for (const Seen &s : seen)
            if (s.message == message) out.push_back(s.window);
        return out;
    }
    std::vector<Seen> all(UINT message) const {
        std::vector<Seen> out;
        for (const Seen &s : seen)
            if (s.message == message) out.push_back(s);
        return out;
    }

    std::vector<Seen> seen;
    Handler handler;
};

// Dispatches one message the way the program's loop does.
inline bool pumpOne() {
    MSG msg;
    if (!GetMessageA(&msg, nullptr, 0, 0)) return false;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

}  // namespace noctil::test
