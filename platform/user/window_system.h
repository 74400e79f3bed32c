// The window system's model, as the platform's own pieces see it: dialogs,
// controls, message boxes and the toolbar build on it, the capture window is
// a class of it, and the displays and the scripted user read it and feed
// user input into it.
//
// The Win32 calls of <windows.h> are the program's view of the same model.
// Everything here runs on the one GUI thread; the model lives in the current
// plat::Session, so every test starts from an empty window system.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"

namespace plat::user {

// A window procedure written in C++ (platform classes: dialogs, controls,
// the toolbar, the capture window). Program classes use a plain WNDPROC.
using WindowProc = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

// Registers a class whose windows run `proc`. Class names compare without
// regard to case, as RegisterClassExA's do; registering a name again
// replaces the class for windows created afterwards.
void registerClass(std::string_view name, WindowProc proc, UINT classStyle = 0);
bool classExists(std::string_view name);

// What a display or a test may read about one window. Live while the window
// exists; `find` returns null for a handle that is not (or no longer) a window.
struct Window {
    HWND handle = nullptr;
    std::string className;
    std::string text;
    DWORD style = 0;  // including WS_VISIBLE, WS_DISABLED and WS_MINIMIZE as they stand now
    DWORD exStyle = 0;
    HWND parent = nullptr;  // WS_CHILD windows: the parent
    HWND owner = nullptr;   // top-level windows: the owner given at creation, or null
    int controlId = 0;      // WS_CHILD windows: the id passed as the menu argument
    HMENU menu = nullptr;   // top-level windows: the menu bar, or null
    HINSTANCE instance = nullptr;
    RECT rect{};                 // outer rectangle: screen coordinates for top-level windows,
                                 // the parent's client coordinates for child windows
    std::vector<HWND> children;  // creation order
    bool destroying = false;     // WM_DESTROY has been sent
    // Per-window storage for the platform class that owns the window (the
    // dialog's procedure and result, a control's state ...).
    std::shared_ptr<void> data;
};
const Window *find(HWND window);

// The class-owned storage of a window, created on first use.
template <class T>
T *windowData(HWND window);

// Every live window in creation order; top-level ones only; children of one.
std::vector<HWND> windows();
std::vector<HWND> topLevelWindows();
std::vector<HWND> children(HWND parent);
// The child with a given control id (depth 1), or null.
HWND childById(HWND parent, int controlId);
// True when `window` is `ancestor` or lies below it.
bool isDescendant(HWND window, HWND ancestor);

// Keyboard focus and the active top-level window.
HWND focus();
HWND activeWindow();

// Runs messages (GetMessageA, then `filter`, then TranslateMessage and
// DispatchMessageA) until `done` returns true, as a modal dialog or a
// driver's streaming capture does nested on the GUI thread. `done` is
// tested before every message. `filter` returns true for a message it has
// handled itself (a dialog's IsDialogMessageA). Returns false when WM_QUIT
// ended the loop; the quit is posted again so the outer loop ends too.
bool runModalLoop(const std::function<bool()> &done, const std::function<bool(MSG &)> &filter = {});

// ---- Painting ------------------------------------------------------------------
// The last image SetDIBitsToDevice put on a window, as it was given: for
// displays to show and tests to inspect.
struct PaintSurface {
    int xDest = 0, yDest = 0;   // where the image went in the client area
    int width = 0, height = 0;  // the rectangle drawn
    int xSrc = 0, ySrc = 0;     // where in the DIB it was taken from
    unsigned startScan = 0, scanLines = 0;
    std::vector<std::uint8_t> info;  // BITMAPINFOHEADER and its colour table
    std::vector<std::uint8_t> bits;  // the scanLines rows as given
    std::uint64_t serial = 0;        // counts every image drawn on the window
};
const PaintSurface *paintSurface(HWND window);
// Draws into a window outside of WM_PAINT (a capture window's live video);
// the same as SetDIBitsToDevice on the window's device context.
int drawDib(HWND window, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
            UINT scanLines, const void *bits, const BITMAPINFO *info);
// The window a device context from BeginPaint belongs to, or null.
HWND windowFromDc(HDC dc);

// ---- Menus -------------------------------------------------------------------------
struct MenuItemView {
    std::string text;       // with '&' mnemonics; empty for a separator
    UINT id = 0;            // command id; 0 for separators and pop-ups
    UINT flags = 0;         // MF_GRAYED, MF_DISABLED, MF_CHECKED, MF_POPUP, MF_SEPARATOR
    HMENU popup = nullptr;  // the pop-up's menu handle
};
// The items of a menu in order; empty for an invalid handle.
std::vector<MenuItemView> menuItems(HMENU menu);

// ---- What a person does (displays and the scripted user) ------------------------
// Opens the window's menu: WM_INITMENU to the window with its menu bar.
void openMenu(HWND window);
// Chooses a menu command the way a click does: opens the menu, then, when the
// item exists and is neither grayed nor disabled and the window is enabled,
// posts WM_COMMAND with the id (high word 0). Returns whether it was posted.
bool chooseMenuCommand(HWND window, UINT id);

enum KeyModifier : unsigned { kShift = 1, kControl = 2, kAlt = 4 };
// Posts a key press to the focus window (the active window when nothing has
// the focus): key down and key up, as WM_SYSKEYDOWN/WM_SYSKEYUP with Alt,
// WM_KEYDOWN/WM_KEYUP otherwise. `character` is what the keyboard layout
// makes of the key with these modifiers (0: none); TranslateMessage turns
// the key down into WM_CHAR or WM_SYSCHAR with it. Returns the target window,
// null when no window can take keys.
HWND pressKey(UINT virtualKey, char character, unsigned modifiers);
// The modifiers that were down for the key message retrieved last, as
// GetKeyState reports them while that message is handled.
unsigned keyModifiers();

// The close box of a window's caption: WM_SYSCOMMAND SC_CLOSE, posted.
// Returns false when the window is disabled (a modal dialog is up) or gone.
bool clickCloseBox(HWND window);
// A click that brings a top-level window forward and gives it the focus.
bool activate(HWND window);

// ---- Watching the model (displays) ---------------------------------------------------
enum class Change { Created, Destroyed, Shown, Enabled, Text, Geometry, Menu, Painted, Focus };
using Observer = std::function<void(HWND, Change)>;
int subscribe(Observer observer);
void unsubscribe(int token);

// ---- Loop internals the platform shares ---------------------------------------------
// The earliest time a timer falls due, if any timer runs.
std::optional<Micros> nextTimerDue();
// The earliest time a timer of this very window (not of its children) falls
// due: what a display can say about the window's next step.
std::optional<Micros> nextTimerDueOf(HWND window);
// Icon handle details (LoadIconA): the module and resource it came from.
struct IconInfo {
    HINSTANCE instance = nullptr;
    std::string name;  // "icon:<name>" or "cursor:<name>"; "#<id>" names an ordinal
};
const IconInfo *iconInfo(HICON icon);

// ---- Template implementation ----------------------------------------------------------
namespace detail {
std::shared_ptr<void> *dataSlot(HWND window);
}
template <class T>
T *windowData(HWND window) {
    std::shared_ptr<void> *slot = detail::dataSlot(window);
    if (!slot) return nullptr;
    if (!*slot) *slot = std::make_shared<T>();
    return static_cast<T *>(slot->get());
}

}  // namespace plat::user
