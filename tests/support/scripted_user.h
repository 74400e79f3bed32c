// A scripted user for headless runs: actions at virtual times, and the
// things a person does (choosing menu commands, pressing keys, the close
// box) as the displays turn them into messages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "headless_display.h"

namespace noctil::test {

class ScriptedUser {
public:
    explicit ScriptedUser(plat::HeadlessDisplay &display) : display_(display) {}

    // Runs `action` when the message loop first waits at or after `ms` of
    // virtual time. Actions due together run in the order they were given.
    void at(std::uint32_t ms, std::function<void()> action);
    // Runs `action` `ms` after the current virtual time; inside an action,
    // that is after the action's own time.
    void after(std::uint32_t ms, std::function<void()> action);

    // What a person does, at once (call these inside actions). clickMenu
    // opens the window's menu (WM_INITMENU) and posts the command when the
    // item exists and is enabled; it returns whether the command was posted.
    bool clickMenu(HWND window, UINT id);
    // A key press to the focus window; `alt` holds Alt down. Returns the
    // window the key went to, null when none takes keys.
    HWND pressKey(UINT virtualKey, char character, bool alt = false);
    // The same with any of plat::user::kShift, kControl and kAlt held down.
    HWND pressKeyWith(UINT virtualKey, char character, unsigned modifiers);
    // The close box of the window's caption; false when it has none or is
    // disabled.
    bool closeBox(HWND window);
    // A click on a window: brings it forward with the keyboard focus.
    bool click(HWND window);

    std::uint32_t nowMs() const;

private:
    plat::HeadlessDisplay &display_;
};

}  // namespace noctil::test
