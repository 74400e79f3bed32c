#include "dialog_user.h"

#include "user/window_system.h"

namespace noctil::test {

HWND findDialog(std::string_view title) {
    std::vector<HWND> open = plat::user::openDialogs();
    for (auto it = open.rbegin(); it != open.rend(); ++it)
        if (const plat::user::Window *w = plat::user::find(*it); w && w->text == title) return *it;
    return nullptr;
}

HWND topDialog() {
    std::vector<HWND> open = plat::user::openDialogs();
    return open.empty() ? nullptr : open.back();
}

bool typeInto(HWND dialog, int id, std::string_view text, bool replace) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return false;
    SetFocus(control);
    if (replace) SendMessageA(control, plat::user::kEmSetSel, 0, -1);
    plat::user::typeText(control, text);
    return true;
}

bool clickItem(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control && plat::user::clickControl(control);
}

HWND pressEnter() { return plat::user::pressKey(VK_RETURN, '\r', 0); }
HWND pressEscape() { return plat::user::pressKey(VK_ESCAPE, 0x1B, 0); }
HWND pressTab() { return plat::user::pressKey(VK_TAB, '\t', 0); }

bool closeDialog(HWND dialog) { return plat::user::clickCloseBox(dialog); }

std::string itemText(HWND dialog, int id) {
    char buffer[1024] = "";
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

const std::vector<plat::user::MessageBoxRecord> &messageBoxLog() { return plat::user::messageBoxes(); }

std::vector<std::string> messageBoxTexts() {
    std::vector<std::string> out;
    for (const auto &box : messageBoxLog()) out.push_back(box.text);
    return out;
}

}  // namespace noctil::test
