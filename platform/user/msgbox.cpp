// Message boxes and beeps. A message box is a modal dialog made from a
// template in memory: its icon, its text and the buttons its type asks for.
// Every box and every beep is kept in the session's log, for the displays
// and for tests.
#include <windows.h>

#include <algorithm>
#include <sstream>

#include "core/session.h"
#include "display/display.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace plat::user {

namespace {

// Type bits: the button set and the icon.
constexpr UINT kTypeMask = 0x0000000F;
constexpr UINT kIconMask = 0x000000F0;
constexpr UINT kDefaultButtonMask = 0x00000F00;
// The system icons a message box shows, by the platform's ordinals.
constexpr int kIdiHand = 32513, kIdiQuestion = 32514, kIdiExclamation = 32515, kIdiAsterisk = 32516;
constexpr int kIconControlId = 20;

// A capture program beeps once an image, from inside the stream's frame
// callback: room for a long night's beeps is made when the log is, so
// recording one allocates nothing.
constexpr std::size_t kBeepRoom = 4096;

struct MessageLog {
    MessageLog() { beeps.reserve(kBeepRoom); }
    std::vector<MessageBoxRecord> boxes;
    std::vector<BeepRecord> beeps;
};

MessageLog &log() { return session().component<MessageLog>(); }

struct ButtonSpec {
    const char *text;
    int id;
};

std::vector<ButtonSpec> buttonsFor(UINT type) {
    switch (type & kTypeMask) {
    case MB_OKCANCEL: return {{"OK", IDOK}, {"Cancel", IDCANCEL}};
    case MB_YESNO: return {{"&Yes", IDYES}, {"&No", IDNO}};
    default: return {{"OK", IDOK}};
    }
}

// Which button Enter presses and the box's focus starts on: the first
// unless MB_DEFBUTTON2 (or a later one the box has) names another.
std::size_t defaultButtonOf(UINT type, std::size_t buttons) {
    const std::size_t index = (type & kDefaultButtonMask) >> 8;
    return index < buttons ? index : 0;
}

int iconFor(UINT type) {
    switch (type & kIconMask) {
    case MB_ICONHAND: return kIdiHand;
    case MB_ICONQUESTION: return kIdiQuestion;
    case MB_ICONEXCLAMATION: return kIdiExclamation;
    case MB_ICONASTERISK: return kIdiAsterisk;
    default: return 0;
    }
}

// The box laid out in dialog units: icon at the left, the text beside it,
// the buttons centred below.
res::DialogTemplate layout(const std::string &text, const std::string &caption, UINT type) {
    res::DialogTemplate t;
    t.title = caption;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
    t.fontName = "MS Sans Serif";
    t.pointSize = 8;

    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (lines.empty()) lines.emplace_back();
    std::size_t longest = 0;
    for (const auto &line : lines) longest = std::max(longest, line.size());

    const int icon = iconFor(type);
    const int textX = icon ? 40 : 10;
    const int textWidth = static_cast<int>(std::min<std::size_t>(longest, 120)) * 4 + 4;
    const int textHeight = static_cast<int>(lines.size()) * 8;
    const std::vector<ButtonSpec> buttons = buttonsFor(type);
    const int buttonsWidth = static_cast<int>(buttons.size()) * 56 - 6;
    const int contentHeight = std::max(textHeight, icon ? 20 : 0);
    t.cx = std::max(textX + textWidth + 10, buttonsWidth + 20);
    t.cy = 10 + contentHeight + 10 + 14 + 8;

    if (icon)
        t.controls.push_back({"STATIC", "", icon, kIconControlId, WS_CHILD | WS_VISIBLE | SS_ICON, 0, 10, 10, 20, 20});
    t.controls.push_back({"STATIC", text, -1, -1, WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 0, textX,
                          10 + (contentHeight - textHeight) / 2, textWidth, textHeight});
    int x = (t.cx - buttonsWidth) / 2;
    const std::size_t defaultButton = defaultButtonOf(type, buttons.size());
    for (std::size_t i = 0; i < buttons.size(); ++i, x += 56) {
        const DWORD style =
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | (i == defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        t.controls.push_back({"BUTTON", buttons[i].text, -1, buttons[i].id, style, 0, x, t.cy - 22, 50, 14});
    }
    return t;
}

}  // namespace

const std::vector<MessageBoxRecord> &messageBoxes() { return log().boxes; }
const std::vector<BeepRecord> &beeps() { return log().beeps; }

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" {

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    MessageBoxRecord record;
    record.time = session().clock().now();
    record.owner = owner;
    record.text = text ? text : "";
    record.caption = caption ? caption : "Error";
    record.type = type;
    const std::size_t index = log().boxes.size();
    log().boxes.push_back(record);

    const std::vector<ButtonSpec> buttons = buttonsFor(type);
    auto hasButton = [&](int id) {
        return std::any_of(buttons.begin(), buttons.end(), [id](const ButtonSpec &b) { return b.id == id; });
    };
    DialogProc proc = [&, index](HWND box, UINT message, WPARAM wParam, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            log().boxes[index].window = box;
            const std::size_t defaultButton = defaultButtonOf(type, buttons.size());
            if (defaultButton == 0) return TRUE;  // the first tab stop, the first button
            SetFocus(GetDlgItem(box, buttons[defaultButton].id));
            return FALSE;
        }
        if (message != WM_COMMAND) return FALSE;
        int id = LOWORD(wParam);
        // Escape and the close box answer Cancel; a box with only OK takes them as OK.
        if (id == IDCANCEL && !hasButton(IDCANCEL)) {
            if (buttons.size() != 1) return TRUE;
            id = IDOK;
        }
        if (hasButton(id)) EndDialog(box, id);
        return TRUE;
    };
    INT_PTR result = runModalDialog(layout(record.text, record.caption, type), nullptr, owner, proc, 0);
    MessageBoxRecord &done = log().boxes[index];
    done.window = nullptr;
    done.result = static_cast<int>(result);
    return static_cast<int>(result);
}

BOOL WINAPI MessageBeep(UINT type) {
    log().beeps.push_back({session().clock().now(), type});
    session().display().beep(type);
    return TRUE;
}

}  // extern "C"
