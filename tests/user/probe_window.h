// Test windows of a class "Probe" whose procedure records every message it
// gets (with the virtual time) and lets each test answer messages its own way.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "message_sequence.h"
#include "platform_fixture.h"
#include "user/window_system.h"

namespace noctil::test {

struct Seen {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::uint32_t ms;
    bool posted;  // dispatched by the test's loop, else sent
};

class UserTest : public PlatformTest {
protected:
    using Handler = std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)>;

    UserTest() {
        plat::user::registerClass("Probe", [this](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
            seen.push_back({w, m, wp, lp, nowMs(), isPosted(w, m, wp, lp, depth_)});
            ++depth_;
            std::optional<LRESULT> answer = handler ? handler(w, m, wp, lp) : std::nullopt;
            const LRESULT result = answer ? *answer : DefWindowProcA(w, m, wp, lp);
            --depth_;
            return result;
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
    // What `window` got of the messages in `only`, in order, for a
    // comparison with a table (message_sequence.h).
    std::vector<RecordedMessage> sequence(HWND window, std::vector<UINT> only) const {
        std::vector<RecordedMessage> out;
        for (const Seen &s : seen)
            if (s.window == window && std::find(only.begin(), only.end(), s.message) != only.end())
                out.push_back({s.message, s.wParam, s.lParam, s.posted});
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

private:
    int depth_ = 0;  // procedures of probes running, one inside another
};

// Dispatches one message the way the program's loop does.
inline bool pumpOne() {
    MSG msg;
    if (!GetMessageA(&msg, nullptr, 0, 0)) return false;
    TranslateMessage(&msg);
    dispatchNoted(msg);
    return true;
}

}  // namespace noctil::test
