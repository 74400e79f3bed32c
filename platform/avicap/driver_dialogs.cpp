// The drivers' dialogs are laid out here, at run time (the format dialog has
// a button per format), and run as modal dialogs from those templates by
// the platform's dialog box.
#include "avicap/driver_dialogs.h"

#include <algorithm>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "resources/resources.h"
#include "user/dialog_system.h"

namespace plat::avicap {

namespace {

res::DialogTemplate dialogTemplate(const std::string &title, int cx, int cy) {
    res::DialogTemplate t;
    t.title = title;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    t.cx = cx;
    t.cy = cy;
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;
    return t;
}

void addControl(res::DialogTemplate &t, const char *className, const std::string &text, int id, DWORD style, int x,
                int y, int cx, int cy) {
    res::DialogControl c;
    c.className = className;
    c.text = text;
    c.id = id;
    c.style = style | WS_CHILD | WS_VISIBLE;
    c.x = x;
    c.y = y;
    c.cx = cx;
    c.cy = cy;
    t.controls.push_back(std::move(c));
}

// OK and Cancel side by side at the foot of a dialog `cx` wide.
void addOkCancel(res::DialogTemplate &t, int y) {
    addControl(t, "BUTTON", "OK", IDOK, BS_DEFPUSHBUTTON | WS_TABSTOP, t.cx - 110, y, 50, 14);
    addControl(t, "BUTTON", "Cancel", IDCANCEL, BS_PUSHBUTTON | WS_TABSTOP, t.cx - 55, y, 50, 14);
}

}  // namespace

bool runSourceDialog(HWND owner, const std::string &title, std::span<SourceField> fields) {
    return runSourceDialog(owner, title, {}, fields);
}

bool runSourceDialog(HWND owner, const std::string &title, std::span<SourceChoice> choices,
                     std::span<SourceField> fields) {
    res::DialogTemplate t = dialogTemplate(title, 200, 0);
    int y = 8;
    for (std::size_t i = 0; i < choices.size(); ++i, y += 18) {
        addControl(t, "STATIC", choices[i].label, IDC_STATIC, SS_LEFT, 8, y + 2, 100, 10);
        addControl(t, "COMBOBOX", "", kChoiceComboFirst + static_cast<int>(i), WS_TABSTOP, 112, y, 80, 13);
    }
    for (std::size_t i = 0; i < fields.size(); ++i, y += 18) {
        addControl(t, "STATIC", fields[i].label, IDC_STATIC, SS_LEFT, 8, y + 2, 100, 10);
        addControl(t, "EDIT", "", kFieldEditFirst + static_cast<int>(i),
                   ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 112, y, 80, 13);
    }
    addOkCancel(t, y + 6);
    t.cy = y + 26;

    const auto proc = [choices, fields](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            for (std::size_t i = 0; i < choices.size(); ++i) {
                HWND combo = GetDlgItem(dialog, kChoiceComboFirst + static_cast<int>(i));
                for (const std::string &item : choices[i].items)
                    SendMessageA(combo, user::kCbAddString, 0, reinterpret_cast<LPARAM>(item.c_str()));
                SendMessageA(combo, user::kCbSetCurSel, static_cast<WPARAM>(choices[i].selected), 0);
            }
            for (std::size_t i = 0; i < fields.size(); ++i)
                SetDlgItemInt(dialog, kFieldEditFirst + static_cast<int>(i), static_cast<UINT>(fields[i].value), TRUE);
            return TRUE;
        }
        if (message != WM_COMMAND) return FALSE;
        if (LOWORD(wParam) == IDOK) {
            for (std::size_t i = 0; i < choices.size(); ++i) {
                const LRESULT chosen =
                    SendMessageA(GetDlgItem(dialog, kChoiceComboFirst + static_cast<int>(i)), user::kCbGetCurSel, 0, 0);
                if (chosen >= 0) choices[i].selected = static_cast<int>(chosen);
            }
            for (std::size_t i = 0; i < fields.size(); ++i) {
                SourceField &f = fields[i];
                BOOL translated = FALSE;
                const int v =
                    static_cast<int>(GetDlgItemInt(dialog, kFieldEditFirst + static_cast<int>(i), &translated, TRUE));
                if (translated) f.value = std::clamp(v, f.minimum, f.maximum);
            }
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    };
    return user::runModalDialog(t, res::moduleInstance(), owner, proc, 0) == IDOK;
}

bool runFormatDialog(HWND owner, const std::string &title, std::span<const BITMAPINFOHEADER> formats,
                     std::size_t &index) {
    if (formats.empty()) return false;
    res::DialogTemplate t = dialogTemplate(title, 200, 0);
    int y = 8;
    for (std::size_t i = 0; i < formats.size(); ++i, y += 18)
        addControl(t, "BUTTON", describeFormat(formats[i]), kFormatButtonFirst + static_cast<int>(i),
                   BS_PUSHBUTTON | WS_TABSTOP, 8, y, t.cx - 16, 14);
    addControl(t, "STATIC", "", kFormatChosenText, SS_LEFT, 8, y + 4, t.cx - 16, 10);
    addOkCancel(t, y + 20);
    t.cy = y + 40;

    std::size_t chosen = std::min(index, formats.size() - 1);
    const auto showChosen = [&](HWND dialog) {
        SetDlgItemTextA(dialog, kFormatChosenText, ("Format: " + describeFormat(formats[chosen])).c_str());
    };
    const auto proc = [&](HWND dialog, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            showChosen(dialog);
            return TRUE;
        }
        if (message != WM_COMMAND) return FALSE;
        const int id = LOWORD(wParam);
        if (id >= kFormatButtonFirst && id < kFormatButtonFirst + static_cast<int>(formats.size())) {
            chosen = static_cast<std::size_t>(id - kFormatButtonFirst);
            showChosen(dialog);
            return TRUE;
        }
        if (id == IDOK || id == IDCANCEL) {
            EndDialog(dialog, id);
            return TRUE;
        }
        return FALSE;
    };
    if (user::runModalDialog(t, res::moduleInstance(), owner, proc, 0) != IDOK) return false;
    index = chosen;
    return true;
}

}  // namespace plat::avicap
