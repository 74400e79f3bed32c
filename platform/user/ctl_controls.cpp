// The predefined dialog controls: BUTTON (push buttons, default push buttons
// and check boxes), EDIT (one line of text, digits-only and read-only
// variants), STATIC (text and icons) and COMBOBOX (a list to choose from).
#include <windows.h>

#include <cctype>
#include <string>

#include "user/dialog_system.h"
#include "user/user_state.h"

namespace plat::user {

namespace {

// The longest text an edit box takes by typing.
constexpr std::size_t kEditLimit = 32767;

struct ButtonData {
    int check = BST_UNCHECKED;
    bool pressed = false;
};

struct EditData {
    bool readOnly = false;
    bool allSelected = false;  // the whole text is selected: typing replaces it
};

struct StaticData {
    HICON icon = nullptr;
};

struct ComboData {
    std::vector<std::string> items;
    int selection = -1;
};

// Input reaches a control only while it and its top-level window are enabled.
bool takesInput(HWND control) { return acceptsInput(control); }

void notifyParent(HWND control, UINT code) {
    const Window *w = find(control);
    if (!w || !w->parent) return;
    HWND parent = w->parent;
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(w->controlId, code), reinterpret_cast<LPARAM>(control));
}

// A click: a check box changes its check first, then the parent hears of it.
void buttonClicked(HWND button) {
    if (!takesInput(button)) return;
    if ((find(button)->style & 0xF) == BS_AUTOCHECKBOX) {
        ButtonData *d = windowData<ButtonData>(button);
        d->check = d->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        InvalidateRect(button, nullptr, TRUE);
    }
    notifyParent(button, BN_CLICKED);
}

LRESULT buttonProc(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    ButtonData *d = windowData<ButtonData>(button);
    switch (message) {
    case BM_GETCHECK: return d->check;
    case BM_SETCHECK:
        d->check = static_cast<int>(wParam);
        InvalidateRect(button, nullptr, TRUE);
        return 0;
    case WM_LBUTTONDOWN:
        if (!takesInput(button)) return 0;
        d->pressed = true;
        if (find(button)->style & WS_TABSTOP) SetFocus(button);
        return 0;
    case WM_LBUTTONUP:
        if (!d->pressed) return 0;
        d->pressed = false;
        buttonClicked(button);
        return 0;
    case kBmClick: buttonClicked(button); return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE) buttonClicked(button);
        return 0;
    default: return DefWindowProcA(button, message, wParam, lParam);
    }
}

void setEditText(HWND edit, const std::string &text) {
    DefWindowProcA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

LRESULT editProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
    EditData *d = windowData<EditData>(edit);
    switch (message) {
    case WM_NCCREATE:
        d->readOnly = reinterpret_cast<const CREATESTRUCTA *>(lParam)->style & ES_READONLY;
        return DefWindowProcA(edit, message, wParam, lParam);
    case WM_CHAR: {
        if (!takesInput(edit) || d->readOnly) return 0;
        const char c = static_cast<char>(wParam);
        std::string text = find(edit)->text;
        if (c == '\b') {
            if (d->allSelected)
                text.clear();
            else if (!text.empty())
                text.pop_back();
        } else if (static_cast<unsigned char>(c) < 0x20) {
            return 0;  // other control characters are not text
        } else if ((find(edit)->style & ES_NUMBER) && !std::isdigit(static_cast<unsigned char>(c))) {
            MessageBeep(MB_OK);  // a digits-only box refuses anything else, audibly
            return 0;
        } else {
            if (d->allSelected) text.clear();
            if (text.size() >= kEditLimit) {
                MessageBeep(MB_OK);
                return 0;
            }
            text.push_back(c);
        }
        d->allSelected = false;
        setEditText(edit, text);
        notifyParent(edit, kEnChange);
        return 0;
    }
    case WM_SETTEXT: d->allSelected = false; return DefWindowProcA(edit, message, wParam, lParam);
    case kEmSetSel: {
        const auto length = static_cast<LPARAM>(find(edit)->text.size());
        d->allSelected = wParam == 0 && (lParam == -1 || lParam >= length);
        return 0;
    }
    case EM_SETREADONLY: d->readOnly = wParam != 0; return TRUE;
    case WM_LBUTTONDOWN:
        if (!takesInput(edit)) return 0;
        SetFocus(edit);
        d->allSelected = false;
        return 0;
    default: return DefWindowProcA(edit, message, wParam, lParam);
    }
}

LRESULT staticProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(control, message, wParam, lParam);
}

LRESULT comboProc(HWND combo, UINT message, WPARAM wParam, LPARAM lParam) {
    ComboData *d = windowData<ComboData>(combo);
    switch (message) {
    case kCbAddString:
        d->items.emplace_back(lParam ? reinterpret_cast<const char *>(lParam) : "");
        return static_cast<LRESULT>(d->items.size() - 1);
    case kCbGetCount: return static_cast<LRESULT>(d->items.size());
    case kCbGetCurSel: return d->selection;
    case kCbSetCurSel: {
        const auto index = static_cast<std::intptr_t>(wParam);
        if (index < 0 || index >= static_cast<std::intptr_t>(d->items.size())) {
            d->selection = -1;
            return -1;
        }
        d->selection = static_cast<int>(index);
        InvalidateRect(combo, nullptr, TRUE);
        return d->selection;
    }
    default: return DefWindowProcA(combo, message, wParam, lParam);
    }
}

}  // namespace

void registerControlClasses() {
    registerClass("BUTTON", buttonProc);
    registerClass("EDIT", editProc);
    registerClass("STATIC", staticProc);
    registerClass("COMBOBOX", comboProc);
}

void setStaticIcon(HWND control, HICON icon) {
    if (StaticData *d = windowData<StaticData>(control)) d->icon = icon;
}

HICON staticIcon(HWND control) {
    const Window *w = find(control);
    if (!w || w->className != "STATIC") return nullptr;
    return windowData<StaticData>(control)->icon;
}

std::vector<std::string> comboItems(HWND control) {
    const Window *w = find(control);
    if (!w || w->className != "COMBOBOX") return {};
    return windowData<ComboData>(control)->items;
}

int comboSelection(HWND control) {
    const Window *w = find(control);
    if (!w || w->className != "COMBOBOX") return -1;
    return windowData<ComboData>(control)->selection;
}

bool selectComboItem(HWND control, int index) {
    if (!takesInput(control) || comboItems(control).size() <= static_cast<std::size_t>(std::max(index, 0)) || index < 0)
        return false;
    SendMessageA(control, kCbSetCurSel, static_cast<WPARAM>(index), 0);
    notifyParent(control, kCbnSelChange);
    return true;
}

bool clickControl(HWND control) {
    if (!find(control) || !takesInput(control)) return false;
    PostMessageA(control, WM_LBUTTONDOWN, 0, 0);
    PostMessageA(control, WM_LBUTTONUP, 0, 0);
    return true;
}

void typeText(HWND control, std::string_view text) {
    for (char c : text) PostMessageA(control, WM_CHAR, static_cast<unsigned char>(c), 1);
}

}  // namespace plat::user
