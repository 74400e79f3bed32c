// The dialog manager: dialogs built from templates (resources or memory),
// the modal loop that runs them, keyboard navigation inside a dialog, and
// the Win32 calls on dialog items.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "core/session.h"
#include "user/dialog_system.h"
#include "user/user_state.h"

namespace plat::user {

// Implemented with the controls.
void setStaticIcon(HWND control, HICON icon);
void registerControlClasses();

namespace {

struct DialogData {
    DialogProc proc;
    bool ended = false;
    INT_PTR result = 0;
    HWND disabledOwner = nullptr;  // the owner a modal dialog disabled, to enable again
    BaseUnits units;               // of the template's font, for the displays
};

struct DialogClasses {
    bool registered = false;
};

DialogData *dialogData(HWND dialog) { return isDialog(dialog) ? windowData<DialogData>(dialog) : nullptr; }

bool isClass(HWND window, std::string_view name) {
    const Window *w = find(window);
    return w && lowerCase(w->className) == lowerCase(name);
}

bool isPushButton(HWND window) {
    if (!isClass(window, "BUTTON")) return false;
    DWORD type = find(window)->style & 0xF;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// Controls that Tab stops at, in template order.
std::vector<HWND> tabStops(HWND dialog) {
    std::vector<HWND> out;
    for (HWND child : children(dialog)) {
        const Window *w = find(child);
        if (w && (w->style & WS_TABSTOP) && (w->style & WS_VISIBLE) && !(w->style & WS_DISABLED)) out.push_back(child);
    }
    return out;
}

// Focus moved by the dialog manager selects the whole text of an edit box,
// so that typing replaces it.
void focusControl(HWND control) {
    SetFocus(control);
    if (isClass(control, "EDIT")) SendMessageA(control, kEmSetSel, 0, -1);
}

void sendCommand(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (control && !IsWindowEnabled(control)) return;  // a disabled button cannot be pressed
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

// Enter: the push button that has the focus, else the default button, else IDOK.
void pressDefault(HWND dialog) {
    HWND focused = GetFocus();
    if (isDescendant(focused, dialog) && focused != dialog && isPushButton(focused)) {
        sendCommand(dialog, GetDlgCtrlID(focused));
        return;
    }
    LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    sendCommand(dialog, HIWORD(def) == kDcHasDefId ? LOWORD(def) : IDOK);
}

// The letter a control's text marks with '&' ("&Yes" marks y), in lower
// case; 0 when it marks none ("&&" is an ampersand).
char mnemonicOf(const std::string &text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&') continue;
        if (text[i + 1] != '&') return static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
        ++i;
    }
    return 0;
}

// Controls that take typed characters as text: a letter typed into them is
// text, not a button's mnemonic (only Alt with it is).
bool takesCharacters(HWND control) {
    return isClass(control, "EDIT") || isClass(control, "COMBOBOX") || isClass(control, "LISTBOX");
}

// A key that a button's mnemonic names presses that button, as the buttons
// of Windows' dialogs and message boxes take it: Y and N answer a Yes/No
// box. False when no enabled button of the dialog has that mnemonic.
bool pressMnemonic(HWND dialog, char typed) {
    const char wanted = static_cast<char>(std::tolower(static_cast<unsigned char>(typed)));
    if (wanted == 0) return false;
    for (HWND child : children(dialog)) {
        const Window *w = find(child);
        if (!w || !isClass(child, "BUTTON") || !(w->style & WS_VISIBLE) || (w->style & WS_DISABLED)) continue;
        if (mnemonicOf(w->text) != wanted) continue;
        if (isPushButton(child)) {
            sendCommand(dialog, w->controlId);
        } else {  // a check box: clicked, so it changes and tells the dialog
            SendMessageA(child, WM_LBUTTONDOWN, 0, 0);
            SendMessageA(child, WM_LBUTTONUP, 0, 0);
        }
        return true;
    }
    return false;
}

void moveFocus(HWND dialog, bool backwards) {
    std::vector<HWND> stops = tabStops(dialog);
    if (stops.empty()) return;
    auto it = std::find(stops.begin(), stops.end(), GetFocus());
    std::size_t next;
    if (it == stops.end())
        next = backwards ? stops.size() - 1 : 0;
    else {
        std::size_t at = static_cast<std::size_t>(it - stops.begin());
        next = backwards ? (at + stops.size() - 1) % stops.size() : (at + 1) % stops.size();
    }
    focusControl(stops[next]);
}

LRESULT dialogWindowProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (DialogData *d = windowData<DialogData>(dialog); d && d->proc) {
        DialogProc proc = d->proc;  // the procedure may end and destroy the dialog
        INT_PTR handled = proc(dialog, message, wParam, lParam);
        if (handled || !IsWindow(dialog)) return handled;
    }
    switch (message) {
    case WM_CLOSE:
        // The close box works like a Cancel button, and not while Cancel is disabled.
        if (HWND cancel = GetDlgItem(dialog, IDCANCEL); cancel && !IsWindowEnabled(cancel)) return 0;
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return 0;
    case DM_GETDEFID:
        for (HWND child : children(dialog))
            if (isClass(child, "BUTTON") && (find(child)->style & 0xF) == BS_DEFPUSHBUTTON)
                return MAKELONG(GetDlgCtrlID(child), kDcHasDefId);
        return 0;
    case WM_DESTROY:
        // A dialog destroyed from outside (with its owner) ends its modal
        // loop, which may be waiting for input: wake it.
        if (DialogData *d = windowData<DialogData>(dialog); d && !d->ended) {
            d->ended = true;
            PostMessageA(nullptr, WM_NULL, 0, 0);
        }
        return DefWindowProcA(dialog, message, wParam, lParam);
    case WM_INITDIALOG:
    case WM_COMMAND: return 0;
    default: return DefWindowProcA(dialog, message, wParam, lParam);
    }
}

// Creates the dialog window and its controls, hidden, and runs WM_INITDIALOG.
HWND createDialog(const res::DialogTemplate &t, HINSTANCE instance, HWND owner, DialogProc proc, LPARAM param) {
    const BaseUnits units = dialogBaseUnits(t);
    const RECT client = dialogUnitsToPixels(units, t.x, t.y, t.cx, t.cy);
    const DWORD style = t.style & ~static_cast<DWORD>(WS_VISIBLE | WS_CHILD);
    // Made large first, so the frame around the client area can be measured.
    constexpr int kProbe = 4000;
    HWND dialog = CreateWindowExA(t.exStyle, kDialogClass, t.title.c_str(), style, 0, 0, kProbe, kProbe, owner, nullptr,
                                  instance, nullptr);
    if (!dialog) return nullptr;
    RECT measured{};
    GetClientRect(dialog, &measured);
    const int frameX = kProbe - measured.right, frameY = kProbe - measured.bottom;
    const int width = client.right - client.left + frameX, height = client.bottom - client.top + frameY;
    int x = client.left, y = client.top;
    RECT ownerRect{};
    if (owner && GetWindowRect(owner, &ownerRect)) {
        if (t.style & DS_CENTER) {
            x = (ownerRect.left + ownerRect.right - width) / 2;
            y = (ownerRect.top + ownerRect.bottom - height) / 2;
        } else {
            x += ownerRect.left;
            y += ownerRect.top;
        }
    }
    SetWindowPos(dialog, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    for (const res::DialogControl &c : t.controls) {
        const RECT r = dialogUnitsToPixels(units, c.x, c.y, c.cx, c.cy);
        HWND control = CreateWindowExA(c.exStyle, c.className.c_str(), c.textOrdinal >= 0 ? "" : c.text.c_str(),
                                       c.style | WS_CHILD, r.left, r.top, r.right - r.left, r.bottom - r.top, dialog,
                                       reinterpret_cast<HMENU>(static_cast<std::intptr_t>(c.id)), instance, nullptr);
        if (!control) {  // a dialog whose controls cannot all be made is not made at all
            DestroyWindow(dialog);
            return nullptr;
        }
        if (c.textOrdinal >= 0 && lowerCase(c.className) == "static" && (c.style & 0xF) == SS_ICON)
            setStaticIcon(control, LoadIconA(instance, MAKEINTRESOURCEA(c.textOrdinal)));
    }

    windowData<DialogData>(dialog)->proc = std::move(proc);
    windowData<DialogData>(dialog)->units = units;
    std::vector<HWND> stops = tabStops(dialog);
    HWND first = stops.empty() ? nullptr : stops.front();
    INT_PTR setFocus = SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), param);
    if (!IsWindow(dialog)) return nullptr;
    if (setFocus && first && IsWindow(first)) focusControl(first);
    return dialog;
}

}  // namespace

void ensureDialogClasses() {
    auto &classes = session().component<DialogClasses>();
    if (classes.registered) return;
    registerClass(kDialogClass, dialogWindowProc);
    registerControlClasses();
    classes.registered = true;
}

BaseUnits dialogBaseUnits(const res::DialogTemplate &dialog) {
    // Without a font, and with the system font, a dialog uses the system
    // font's 8x16 cell; other faces scale the common 6x13 cell of 8 points.
    if (!(dialog.style & DS_SETFONT) || dialog.fontName.empty() || lowerCase(dialog.fontName) == "system" ||
        dialog.pointSize <= 0)
        return {8, 16};
    const int pt = std::min(dialog.pointSize, 72);
    return {std::max(1, static_cast<int>(std::lround(6.0 * pt / 8))),
            std::max(1, static_cast<int>(std::lround(13.0 * pt / 8)))};
}

RECT dialogUnitsToPixels(const BaseUnits &units, int x, int y, int cx, int cy) {
    auto h = [&](int v) { return static_cast<LONG>(std::lround(v * units.x / 4.0)); };
    auto v = [&](int d) { return static_cast<LONG>(std::lround(d * units.y / 8.0)); };
    return RECT{h(x), v(y), h(x) + h(cx), v(y) + v(cy)};
}

std::optional<BaseUnits> dialogUnitsOf(HWND dialog) {
    if (DialogData *d = dialogData(dialog)) return d->units;
    return std::nullopt;
}

bool isDialog(HWND window) { return isClass(window, kDialogClass) && !find(window)->destroying; }

std::vector<HWND> openDialogs() {
    std::vector<HWND> out;
    for (HWND w : topLevelWindows())
        if (DialogData *d = dialogData(w); d && !d->ended && IsWindowVisible(w)) out.push_back(w);
    return out;
}

INT_PTR runModalDialog(const res::DialogTemplate &t, HINSTANCE instance, HWND owner, DialogProc proc, LPARAM param) {
    ensureDialogClasses();
    if (owner && !IsWindow(owner)) return -1;
    HWND ownerTop = owner ? topLevelOf(owner) : nullptr;
    HWND dialog = createDialog(t, instance, ownerTop, std::move(proc), param);
    if (!dialog) return -1;

    DialogData *d = dialogData(dialog);
    if (!d->ended) {
        if (ownerTop && IsWindowEnabled(ownerTop)) {
            EnableWindow(ownerTop, FALSE);
            d->disabledOwner = ownerTop;
        }
        ShowWindow(dialog, SW_SHOW);
        // Every message of the thread is dispatched meanwhile, so the owner's
        // timers and posted commands go on while the dialog is open.
        runModalLoop(
            [dialog] {
                DialogData *dd = dialogData(dialog);
                return !dd || dd->ended;
            },
            [dialog](MSG &msg) { return IsWindow(dialog) && IsDialogMessageA(dialog, &msg); });
    }
    d = dialogData(dialog);
    INT_PTR result = d && d->ended ? d->result : 0;
    if (d && d->disabledOwner) {
        // The owner is enabled before the dialog goes, so the keyboard returns to it.
        if (IsWindow(d->disabledOwner)) EnableWindow(d->disabledOwner, TRUE);
        d->disabledOwner = nullptr;
    }
    if (IsWindow(dialog)) DestroyWindow(dialog);
    return result;
}

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc, LPARAM param) {
    auto dialog = res::loadDialog(instance, templateName);
    if (!dialog) return -1;
    DialogProc wrapped;
    if (proc) wrapped = [proc](HWND h, UINT m, WPARAM w, LPARAM l) { return proc(h, m, w, l); };
    return runModalDialog(*dialog, instance, owner, std::move(wrapped), param);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    DialogData *d = dialogData(dialog);
    if (!d) return FALSE;
    d->ended = true;
    d->result = result;
    if (d->disabledOwner && IsWindow(d->disabledOwner)) EnableWindow(d->disabledOwner, TRUE);
    d->disabledOwner = nullptr;
    ShowWindow(dialog, SW_HIDE);
    // Called from outside the dialog's messages (a scripted action, a callback),
    // the loop may be waiting for input: wake it.
    PostMessageA(nullptr, WM_NULL, 0, 0);
    return TRUE;
}

BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
    if (!msg || !isDialog(dialog) || !msg->hwnd || !isDescendant(msg->hwnd, dialog)) return FALSE;
    if (msg->message == WM_KEYDOWN) {
        switch (msg->wParam) {
        case VK_RETURN: pressDefault(dialog); return TRUE;
        case VK_ESCAPE: sendCommand(dialog, IDCANCEL); return TRUE;
        case VK_TAB: moveFocus(dialog, keyModifiers() & kShift); return TRUE;
        default: break;
        }
    }
    const bool character = msg->message == WM_SYSCHAR || (msg->message == WM_CHAR && !takesCharacters(msg->hwnd));
    if (character && pressMnemonic(dialog, static_cast<char>(msg->wParam))) return TRUE;
    TranslateMessage(msg);
    DispatchMessageA(msg);
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) { return childById(dialog, id); }

int WINAPI GetDlgCtrlID(HWND control) {
    const Window *w = find(control);
    return w && (w->style & WS_CHILD) ? w->controlId : 0;
}

BOOL WINAPI SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    char text[16];
    if (isSigned)
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    else
        std::snprintf(text, sizeof text, "%u", value);
    return SetDlgItemTextA(dialog, id, text);
}

UINT WINAPI GetDlgItemInt(HWND dialog, int id, BOOL *translated, BOOL isSigned) {
    if (translated) *translated = FALSE;
    HWND control = GetDlgItem(dialog, id);
    if (!control) return 0;
    const LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, '\0');
    GetWindowTextA(control, text.data(), static_cast<int>(text.size()));
    text.resize(std::strlen(text.c_str()));

    // Leading blanks are skipped; then an optional minus sign (signed only)
    // and at least one digit, and nothing else after them.
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (isSigned && i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i == text.size()) return 0;
    std::uint64_t value = 0;
    const std::uint64_t limit = isSigned ? (negative ? 2147483648ull : 2147483647ull) : 4294967295ull;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > limit) return 0;
    }
    if (translated) *translated = TRUE;
    return negative ? static_cast<UINT>(0u - static_cast<UINT>(value)) : static_cast<UINT>(value);
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SetWindowTextA(control, text ? text : "") : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int maxCount) {
    if (!buffer || maxCount <= 0) return 0;
    buffer[0] = '\0';
    HWND control = GetDlgItem(dialog, id);
    return control ? static_cast<UINT>(GetWindowTextA(control, buffer, maxCount)) : 0;
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? static_cast<UINT>(SendMessageA(control, BM_GETCHECK, 0, 0)) : 0;
}

}  // extern "C"
