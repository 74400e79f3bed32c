// The keyboard and the menu as a person uses them: key presses to the focus
// window, characters from key messages, accelerator tables, and choosing a
// menu command or the close box.
#include <windows.h>

#include <cctype>

#include "resources/resources.h"
#include "user/user_state.h"

namespace plat::user {

namespace {

constexpr LPARAM kAltDown = LPARAM{KF_ALTDOWN} << 16;
constexpr LPARAM kKeyUpBits = static_cast<LPARAM>(0xC0000000u);  // previous state down, transition up

// The character of a key that came without one from the display: letters,
// digits and the few control keys, as any layout gives them.
char defaultCharacter(UINT key, unsigned modifiers) {
    if (key >= 'A' && key <= 'Z') return static_cast<char>((modifiers & kShift) ? key : std::tolower(key));
    if (key >= '0' && key <= '9' && !(modifiers & kShift)) return static_cast<char>(key);
    switch (key) {
    case VK_SPACE: return ' ';
    case VK_RETURN: return '\r';
    case VK_ESCAPE: return 0x1B;
    case VK_BACK: return '\b';
    case VK_TAB: return '\t';
    default: return 0;
    }
}

std::vector<ACCEL> *acceleratorTable(HACCEL table) {
    auto &tables = state().accelerators;
    auto it = tables.find(key(table));
    return it == tables.end() ? nullptr : &it->second;
}

bool acceleratorMatches(const ACCEL &accel, const MSG &msg) {
    const bool alt = msg.lParam & kAltDown;
    if (accel.fVirt & FVIRTKEY) {
        if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) return false;
        if (msg.wParam != accel.key) return false;
        const unsigned held = keyModifiers();
        return alt == static_cast<bool>(accel.fVirt & FALT) &&
               static_cast<bool>(held & kShift) == static_cast<bool>(accel.fVirt & FSHIFT) &&
               static_cast<bool>(held & kControl) == static_cast<bool>(accel.fVirt & FCONTROL);
    }
    // A character accelerator: the character itself, with Alt as a WM_SYSCHAR.
    if (msg.message != WM_CHAR && msg.message != WM_SYSCHAR) return false;
    if (msg.wParam != accel.key) return false;
    return (msg.message == WM_SYSCHAR) == static_cast<bool>(accel.fVirt & FALT);
}

}  // namespace

void openMenu(HWND window) {
    if (HMENU menu = GetMenu(window)) SendMessageA(window, WM_INITMENU, reinterpret_cast<WPARAM>(menu), 0);
}

bool chooseMenuCommand(HWND window, UINT id) {
    HMENU menu = GetMenu(window);
    if (!menu || !acceptsInput(window)) return false;
    openMenu(window);
    // WM_INITMENU may have changed the item, or closed the window.
    if (!IsWindow(window)) return false;
    UINT itemState = GetMenuState(GetMenu(window), id, MF_BYCOMMAND);
    if (itemState == 0xFFFFFFFF || (itemState & (MF_GRAYED | MF_DISABLED | MF_POPUP | MF_SEPARATOR))) return false;
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

HWND pressKey(UINT virtualKey, char character, unsigned modifiers) {
    WindowSystem &s = state();
    HWND target = s.focus ? s.focus : s.active;
    if (!target || !acceptsInput(target)) return nullptr;
    const bool alt = modifiers & kAlt;
    const LPARAM down = 1 | (alt ? kAltDown : 0);
    postKeyMessage(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, virtualKey, down, character, modifiers);
    postKeyMessage(target, alt ? WM_SYSKEYUP : WM_KEYUP, virtualKey, down | kKeyUpBits, 0, modifiers);
    return target;
}

bool clickCloseBox(HWND window) {
    auto w = lookup(window);
    // Only a caption with a system menu has a close box.
    if (!w || (w->style & WS_CHILD) || (w->style & WS_CAPTION) != WS_CAPTION || !(w->style & WS_SYSMENU)) return false;
    if (!acceptsInput(window)) return false;
    return PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
}

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" {

BOOL WINAPI TranslateMessage(const MSG *msg) {
    if (!msg) return FALSE;
    if (msg->message == WM_KEYUP || msg->message == WM_SYSKEYUP) return TRUE;
    if (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN) return FALSE;
    WindowSystem &s = state();
    char character = 0;
    if (msg->wParam == s.lastKey && s.lastCharacter)
        character = s.lastCharacter;
    else
        character = defaultCharacter(static_cast<UINT>(msg->wParam), s.lastModifiers);
    if (character) {
        // The character follows its key at once, ahead of anything queued since.
        QueuedMessage q;
        q.msg = *msg;
        q.msg.message = msg->message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
        q.msg.wParam = static_cast<unsigned char>(character);
        s.queue.push_front(q);
    }
    return TRUE;
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE instance, LPCSTR tableName) {
    auto table = plat::res::loadAccelerators(instance, tableName);
    if (!table) return nullptr;
    WindowSystem &s = state();
    std::uintptr_t handle = s.newHandle();
    s.accelerators.emplace(handle, std::move(*table));
    return handleOf<HACCEL>(handle);
}

HACCEL WINAPI CreateAcceleratorTableA(LPACCEL entries, int count) {
    if (!entries || count <= 0) return nullptr;
    WindowSystem &s = state();
    std::uintptr_t handle = s.newHandle();
    s.accelerators.emplace(handle, std::vector<ACCEL>(entries, entries + count));
    return handleOf<HACCEL>(handle);
}

BOOL WINAPI DestroyAcceleratorTable(HACCEL table) { return state().accelerators.erase(key(table)) ? TRUE : FALSE; }

int WINAPI TranslateAcceleratorA(HWND window, HACCEL table, LPMSG msg) {
    std::vector<ACCEL> *accels = acceleratorTable(table);
    if (!accels || !msg || !lookup(window)) return 0;
    for (const ACCEL &accel : *accels) {
        if (!acceleratorMatches(accel, *msg)) continue;
        // A command that is also an item of the window's menu behaves as if
        // the menu had been opened and the item chosen: a grayed or disabled
        // item sends nothing.
        if (HMENU menu = GetMenu(window)) {
            const UINT itemState = GetMenuState(menu, accel.cmd, MF_BYCOMMAND);
            if (itemState != 0xFFFFFFFF) {
                if (IsWindowEnabled(window) && !IsIconic(window)) openMenu(window);
                if (!IsWindow(window)) return 1;
                const UINT now = GetMenuState(GetMenu(window), accel.cmd, MF_BYCOMMAND);
                if (now != 0xFFFFFFFF && (now & (MF_GRAYED | MF_DISABLED))) return 1;
            }
        }
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(accel.cmd, 1), 0);
        return 1;
    }
    return 0;
}

}  // extern "C"
