#include "scripted_user.h"

#include "core/session.h"
#include "user/window_system.h"

namespace noctil::test {

void ScriptedUser::at(std::uint32_t ms, std::function<void()> action) {
    display_.schedule(plat::Micros{ms} * 1000, std::move(action));
}

void ScriptedUser::after(std::uint32_t ms, std::function<void()> action) {
    display_.schedule(plat::session().clock().now() + plat::Micros{ms} * 1000, std::move(action));
}

bool ScriptedUser::clickMenu(HWND window, UINT id) { return plat::user::chooseMenuCommand(window, id); }

HWND ScriptedUser::pressKey(UINT virtualKey, char character, bool alt) {
    return plat::user::pressKey(virtualKey, character, alt ? plat::user::kAlt : 0u);
}

HWND ScriptedUser::pressKeyWith(UINT virtualKey, char character, unsigned modifiers) {
    return plat::user::pressKey(virtualKey, character, modifiers);
}

bool ScriptedUser::closeBox(HWND window) { return plat::user::clickCloseBox(window); }

bool ScriptedUser::click(HWND window) { return plat::user::activate(window); }

std::uint32_t ScriptedUser::nowMs() const { return plat::toMillis(plat::session().clock().now()); }

}  // namespace noctil::test
