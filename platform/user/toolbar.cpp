// The common controls' toolbar ("ToolbarWindow32"): a row of buttons with
// images from a bitmap strip, states (enabled, checked, pressed, hidden) and
// strings that serve as tooltips. A click on an enabled button sends its
// command to the parent as WM_COMMAND, like a menu item.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "core/session.h"
#include "resources/resources.h"
#include "user/dialog_system.h"
#include "user/user_state.h"

namespace plat::user {

namespace {

// Button and image sizes when the program sets none: 16x15 images on
// 23x22 buttons, with a little room above and below the row.
constexpr int kImageWidth = 16, kImageHeight = 15;
constexpr int kButtonWidth = kImageWidth + 7, kButtonHeight = kImageHeight + 7;
constexpr int kSeparatorWidth = 8;
constexpr int kRowPadding = 3;

struct ToolbarData {
    std::size_t structSize = sizeof(TBBUTTON);
    std::vector<std::string> strings;
    std::vector<TBBUTTON> buttons;
    std::vector<std::uint8_t> bitmap;  // the images' packed DIB
    int imageCount = 0;
    int maxTextRows = 1;
    int pressedIndex = -1;       // the button under a mouse press
    std::uint64_t revision = 1;  // changes with every message that may change the above
};

struct CommonControls {
    bool toolbarRegistered = false;
};

ToolbarData *toolbar(HWND window) {
    const Window *w = find(window);
    if (!w || w->className != TOOLBARCLASSNAMEA) return nullptr;
    return windowData<ToolbarData>(window);
}

int indexOf(const ToolbarData &t, WPARAM command) {
    for (std::size_t i = 0; i < t.buttons.size(); ++i)
        if (!(t.buttons[i].fsStyle & TBSTYLE_SEP) && t.buttons[i].idCommand == static_cast<int>(command))
            return static_cast<int>(i);
    return -1;
}

std::string buttonText(const ToolbarData &t, const TBBUTTON &b) {
    if (b.iString >= 0 && static_cast<std::size_t>(b.iString) < t.strings.size()) return t.strings[b.iString];
    if (b.iString && !IS_INTRESOURCE(b.iString)) return reinterpret_cast<const char *>(b.iString);
    return {};
}

// Buttons sit left to right from the left edge; hidden ones take no room.
std::vector<RECT> layoutButtons(const ToolbarData &t) {
    std::vector<RECT> rects;
    int x = 0;
    for (const TBBUTTON &b : t.buttons) {
        if (b.fsState & TBSTATE_HIDDEN) {
            rects.push_back(RECT{x, kRowPadding, x, kRowPadding});
            continue;
        }
        const int width = (b.fsStyle & TBSTYLE_SEP) ? kSeparatorWidth : kButtonWidth;
        rects.push_back(RECT{x, kRowPadding, x + width, kRowPadding + kButtonHeight});
        x += width;
    }
    return rects;
}

int hitTest(const ToolbarData &t, LPARAM point) {
    const int x = static_cast<short>(LOWORD(point)), y = static_cast<short>(HIWORD(point));
    std::vector<RECT> rects = layoutButtons(t);
    for (std::size_t i = 0; i < rects.size(); ++i)
        if (x >= rects[i].left && x < rects[i].right && y >= rects[i].top && y < rects[i].bottom &&
            !(t.buttons[i].fsStyle & TBSTYLE_SEP))
            return static_cast<int>(i);
    return -1;
}

LRESULT setStateBit(HWND window, ToolbarData &t, WPARAM command, BYTE bit, bool on) {
    const int i = indexOf(t, command);
    if (i < 0) return FALSE;
    BYTE &state = t.buttons[i].fsState;
    const BYTE before = state;
    state = on ? (state | bit) : (state & ~bit);
    if (state != before) InvalidateRect(window, nullptr, TRUE);
    return TRUE;
}

LRESULT addStrings(ToolbarData &t, WPARAM instance, LPARAM list) {
    // Strings from a string table are not supported: the program's module has none.
    if (instance || !list) return -1;
    const auto first = static_cast<LRESULT>(t.strings.size());
    // A list of strings, each ended by a zero byte, the list by a second one.
    for (const char *p = reinterpret_cast<const char *>(list); *p; p += std::strlen(p) + 1) t.strings.emplace_back(p);
    return first;
}

LRESULT addBitmap(ToolbarData &t, WPARAM count, LPARAM lParam) {
    const auto *add = reinterpret_cast<const TBADDBITMAP *>(lParam);
    if (!add || count == 0 || !add->hInst || add->hInst == reinterpret_cast<HINSTANCE>(-1)) return -1;
    auto dib = res::loadBitmap(add->hInst, MAKEINTRESOURCEA(add->nID));
    if (!dib) return -1;
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib->data(), sizeof header);
    // The images are a strip of 16-pixel-wide cells; one strip is kept.
    if (header.biWidth < static_cast<LONG>(count) * kImageWidth) return -1;
    const int first = t.imageCount;
    if (t.bitmap.empty()) t.bitmap = std::move(*dib);
    t.imageCount += static_cast<int>(count);
    return first;
}

LRESULT addButtons(HWND window, ToolbarData &t, WPARAM count, LPARAM lParam) {
    if (!lParam || t.structSize != sizeof(TBBUTTON)) return FALSE;
    const auto *records = reinterpret_cast<const TBBUTTON *>(lParam);
    t.buttons.insert(t.buttons.end(), records, records + count);
    InvalidateRect(window, nullptr, TRUE);
    return TRUE;
}

LRESULT autosize(HWND window) {
    const Window *w = find(window);
    if (!w || !w->parent || (w->style & CCS_NORESIZE)) return 0;
    RECT parentClient{};
    GetClientRect(w->parent, &parentClient);
    // Along the top of the parent, as wide as its client area.
    MoveWindow(window, 0, 0, parentClient.right, kButtonHeight + 2 * kRowPadding, TRUE);
    return 0;
}

LRESULT toolbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ToolbarData &t = *windowData<ToolbarData>(window);
    ++t.revision;
    switch (message) {
    case TB_BUTTONSTRUCTSIZE: t.structSize = wParam; return 0;
    case TB_ADDSTRINGA: return addStrings(t, wParam, lParam);
    case TB_SETMAXTEXTROWS: t.maxTextRows = static_cast<int>(wParam); return TRUE;
    case TB_ADDBITMAP: return addBitmap(t, wParam, lParam);
    case TB_ADDBUTTONSA: return addButtons(window, t, wParam, lParam);
    case TB_AUTOSIZE: return autosize(window);
    case TB_ENABLEBUTTON: return setStateBit(window, t, wParam, TBSTATE_ENABLED, LOWORD(lParam) != 0);
    case TB_CHECKBUTTON: return setStateBit(window, t, wParam, TBSTATE_CHECKED, LOWORD(lParam) != 0);
    case TB_PRESSBUTTON: return setStateBit(window, t, wParam, TBSTATE_PRESSED, LOWORD(lParam) != 0);
    case TB_ISBUTTONENABLED:
    case TB_ISBUTTONCHECKED:
    case TB_ISBUTTONPRESSED: {
        const int i = indexOf(t, wParam);
        if (i < 0) return 0;
        const BYTE bit = message == TB_ISBUTTONENABLED   ? TBSTATE_ENABLED
                         : message == TB_ISBUTTONCHECKED ? TBSTATE_CHECKED
                                                         : TBSTATE_PRESSED;
        return (t.buttons[i].fsState & bit) ? TRUE : FALSE;
    }
    case TB_SETSTATE: {
        const int i = indexOf(t, wParam);
        if (i < 0) return FALSE;
        t.buttons[i].fsState = static_cast<BYTE>(LOWORD(lParam));
        InvalidateRect(window, nullptr, TRUE);
        return TRUE;
    }
    case TB_GETSTATE: {
        const int i = indexOf(t, wParam);
        return i < 0 ? -1 : t.buttons[i].fsState;
    }
    case TB_GETBUTTON: {
        if (wParam >= t.buttons.size() || !lParam) return FALSE;
        *reinterpret_cast<TBBUTTON *>(lParam) = t.buttons[wParam];
        return TRUE;
    }
    case TB_BUTTONCOUNT: return static_cast<LRESULT>(t.buttons.size());
    case TB_COMMANDTOINDEX: return indexOf(t, wParam);
    case TB_GETBUTTONTEXTA: {
        const int i = indexOf(t, wParam);
        if (i < 0) return -1;
        const std::string text = buttonText(t, t.buttons[i]);
        if (lParam) std::memcpy(reinterpret_cast<char *>(lParam), text.c_str(), text.size() + 1);
        return static_cast<LRESULT>(text.size());
    }
    case WM_LBUTTONDOWN: {
        if (!acceptsInput(window)) return 0;
        const int i = hitTest(t, lParam);
        t.pressedIndex = (i >= 0 && (t.buttons[i].fsState & TBSTATE_ENABLED)) ? i : -1;
        return 0;
    }
    case WM_LBUTTONUP: {
        const int pressed = t.pressedIndex;
        t.pressedIndex = -1;
        // A click is a press and a release over the same enabled button.
        if (pressed < 0 || hitTest(t, lParam) != pressed || !(t.buttons[pressed].fsState & TBSTATE_ENABLED) ||
            !acceptsInput(window))
            return 0;
        if (const Window *w = find(window); w && w->parent)
            SendMessageA(w->parent, WM_COMMAND, MAKEWPARAM(t.buttons[pressed].idCommand, 0),
                         reinterpret_cast<LPARAM>(window));
        return 0;
    }
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

std::vector<ToolbarButtonView> toolbarButtons(HWND window) {
    ToolbarData *t = toolbar(window);
    if (!t) return {};
    std::vector<ToolbarButtonView> out;
    std::vector<RECT> rects = layoutButtons(*t);
    for (std::size_t i = 0; i < t->buttons.size(); ++i) {
        const TBBUTTON &b = t->buttons[i];
        out.push_back({b.iBitmap, b.idCommand, b.fsState, b.fsStyle, buttonText(*t, b), rects[i]});
    }
    return out;
}

std::uint64_t toolbarRevision(HWND window) {
    ToolbarData *t = toolbar(window);
    return t ? t->revision : 0;
}

std::optional<ToolbarImages> toolbarImages(HWND window) {
    ToolbarData *t = toolbar(window);
    if (!t || t->bitmap.empty()) return std::nullopt;
    return ToolbarImages{t->bitmap, kImageWidth, kImageHeight};
}

std::optional<std::string> toolbarTooltip(HWND window, int command) {
    ToolbarData *t = toolbar(window);
    const Window *w = find(window);
    if (!t || !(w->style & TBSTYLE_TOOLTIPS)) return std::nullopt;
    const int i = indexOf(*t, static_cast<WPARAM>(command));
    if (i < 0) return std::nullopt;
    return buttonText(*t, t->buttons[i]);
}

bool clickToolbarButton(HWND window, int command) {
    ToolbarData *t = toolbar(window);
    if (!t) return false;
    const int i = indexOf(*t, static_cast<WPARAM>(command));
    if (i < 0) return false;
    const RECT r = layoutButtons(*t)[i];
    const LPARAM centre = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageA(window, WM_LBUTTONDOWN, 0, centre);
    PostMessageA(window, WM_LBUTTONUP, 0, centre);
    return true;
}

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX *init) {
    if (!init || init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
    auto &controls = session().component<CommonControls>();
    if ((init->dwICC & ICC_BAR_CLASSES) && !controls.toolbarRegistered) {
        registerClass(TOOLBARCLASSNAMEA, toolbarProc);
        controls.toolbarRegistered = true;
    }
    return TRUE;
}
