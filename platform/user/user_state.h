// The window system's state inside the session, shared by the files of
// platform/user/ that implement the Win32 calls. Not for other areas: they
// use window_system.h.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "user/window_system.h"

namespace plat::user {

struct WindowClass {
    std::string name;
    UINT style = 0;
    WNDPROC wndProc = nullptr;  // program classes
    WindowProc proc;            // platform classes
    HINSTANCE instance = nullptr;
    HICON icon = nullptr, smallIcon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    // The class menu: a resource name or ordinal, kept as the pointer
    // argument the resource reader takes.
    std::optional<std::string> menuName;
    WORD menuOrdinal = 0;
};

struct WindowRecord : Window {
    std::shared_ptr<WindowClass> windowClass;
    bool invalid = false;
    bool erase = false;
    RECT invalidRect{};
    std::optional<PaintSurface> surface;
};

struct MenuEntry {
    std::string text;
    UINT id = 0;
    UINT flags = 0;  // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_POPUP, MF_SEPARATOR
    HMENU popup = nullptr;
};

struct MenuRecord {
    std::vector<MenuEntry> items;
    HWND window = nullptr;       // the window whose menu bar this is
    HMENU parentMenu = nullptr;  // the menu this pop-up hangs from
};

struct Timer {
    HWND window = nullptr;
    UINT_PTR id = 0;
    Micros period = 0;
    Micros due = 0;
    std::uint64_t order = 0;  // arming order: the tie-break for equal due times
    TIMERPROC proc = nullptr;
};

struct QueuedMessage {
    MSG msg{};
    char character = 0;      // key messages: what the layout made of the key
    unsigned modifiers = 0;  // key messages: KeyModifier bits held down
};

class WindowSystem {
public:
    // Handles are numbers that are never reused within a session, so a stale
    // handle is recognised as no longer a window.
    std::map<std::uintptr_t, std::shared_ptr<WindowRecord>> windows;
    std::map<std::string, std::shared_ptr<WindowClass>> classes;  // by lower-case name
    std::map<std::uintptr_t, std::shared_ptr<MenuRecord>> menus;
    std::map<std::uintptr_t, std::vector<ACCEL>> accelerators;
    std::map<std::uintptr_t, IconInfo> icons;
    std::uintptr_t nextHandle = 0x10000;
    ATOM nextAtom = 0xC000;

    std::deque<QueuedMessage> queue;
    bool quitPending = false;
    int quitCode = 0;

    std::vector<Timer> timers;
    std::uint64_t nextTimerOrder = 0;
    UINT_PTR nextThreadTimerId = 1;
    // Whether the display has delivered what a person did (in a wait or a
    // poll) since the loop last handed out a message: a timer message is made
    // only then.
    bool inputChecked = false;

    HWND focus = nullptr;
    HWND active = nullptr;
    UINT lastKey = 0;
    char lastCharacter = 0;
    unsigned lastModifiers = 0;

    int defaultPlacements = 0;

    // Shared, so that one notified can unsubscribe itself safely.
    std::map<int, std::shared_ptr<const Observer>> observers;
    int nextObserver = 1;

    std::uintptr_t newHandle() {
        nextHandle += 0x10;
        return nextHandle;
    }
};

WindowSystem &state();

std::shared_ptr<WindowRecord> lookup(HWND window);
inline std::uintptr_t key(const void *handle) { return reinterpret_cast<std::uintptr_t>(handle); }
template <class H>
H handleOf(std::uintptr_t value) {
    return reinterpret_cast<H>(value);
}

void notify(HWND window, Change change);
std::string lowerCase(std::string_view text);

// Calls the window's procedure (or the default one) with the window held alive.
LRESULT callWindowProc(const std::shared_ptr<WindowRecord> &window, UINT message, WPARAM wParam, LPARAM lParam);

// Geometry shared by painting and the window calls.
RECT clientRectOf(const WindowRecord &window);
void invalidate(WindowRecord &window, const RECT *rect, bool erase);
bool isVisible(const WindowRecord &window);
HWND topLevelOf(HWND window);
bool acceptsInput(HWND window);

// Menus, used by window creation and destruction.
HMENU menuFromResource(HINSTANCE instance, LPCSTR name);
void destroyMenuTree(HMENU menu);
void setMenuWindow(HMENU menu, HWND window);
std::optional<std::pair<MenuRecord *, std::size_t>> findMenuItem(HMENU menu, UINT item, UINT flags);

// Posts a key message with the character and modifiers the keyboard gave it.
void postKeyMessage(HWND window, UINT message, WPARAM key, LPARAM lParam, char character, unsigned modifiers);

// Messages, used by destruction.
void dropMessagesFor(HWND window);
void killTimersOf(HWND window);

}  // namespace plat::user
