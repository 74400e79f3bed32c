// Dialogs, their controls, message boxes, the toolbar control and the Save
// As dialog, as the platform's own pieces, the displays and the tests see
// them. The program sees the same things through <windows.h>, <commctrl.h>
// and <commdlg.h>.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "resources/resources.h"

namespace plat::user {

// The class of every dialog window, as the platform names it.
inline constexpr const char *kDialogClass = "#32770";

// Control messages the program's headers do not carry, with the platform's values.
inline constexpr UINT kEmSetSel = 0x00B1;
inline constexpr UINT kBmClick = 0x00F5;
inline constexpr UINT kCbAddString = 0x0143;
inline constexpr UINT kCbGetCount = 0x0146;
inline constexpr UINT kCbGetCurSel = 0x0147;
inline constexpr UINT kCbSetCurSel = 0x014E;
inline constexpr UINT kEnChange = 0x0300;
inline constexpr UINT kCbnSelChange = 1;
inline constexpr UINT kDcHasDefId = 0x534B;

// Registers the dialog class and the BUTTON, EDIT, STATIC and COMBOBOX
// control classes in the session, once.
void ensureDialogClasses();

// A dialog procedure written in C++ (message boxes, the Save As dialog).
using DialogProc = std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>;

// Runs a modal dialog from a template in memory, as DialogBoxParamA runs one
// from a resource: owner disabled meanwhile, a nested loop that dispatches
// every message of the thread. Returns the EndDialog result, -1 when the
// dialog could not be made.
INT_PTR runModalDialog(const res::DialogTemplate &dialog, HINSTANCE instance, HWND owner, DialogProc proc,
                       LPARAM param);

// Dialog base units of a template font: pixels per 4 horizontal and per 8
// vertical dialog units.
struct BaseUnits {
    int x = 8, y = 16;
};
BaseUnits dialogBaseUnits(const res::DialogTemplate &dialog);
RECT dialogUnitsToPixels(const BaseUnits &units, int x, int y, int cx, int cy);
// The base units a dialog was laid out in; none for a window that is not a dialog.
std::optional<BaseUnits> dialogUnitsOf(HWND dialog);

bool isDialog(HWND window);
// The dialogs open now, oldest first (nested modal dialogs follow their owners).
std::vector<HWND> openDialogs();

// ---- Controls ------------------------------------------------------------------------
// What a person does to a control: a click (button down and up, posted) and
// typing (characters, posted as WM_CHAR to the control).
bool clickControl(HWND control);
void typeText(HWND control, std::string_view text);
// An SS_ICON static's icon, or null.
HICON staticIcon(HWND control);
// A combo box's items and the selected index (-1: none).
std::vector<std::string> comboItems(HWND control);
int comboSelection(HWND control);
// Chooses an item of a combo box as a person does (CBN_SELCHANGE to the parent).
bool selectComboItem(HWND control, int index);

// ---- Message boxes and beeps -----------------------------------------------------------
struct MessageBoxRecord {
    Micros time = 0;
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
    HWND window = nullptr;  // the box while it is open
    int result = 0;         // 0 while open
};
// Every message box of the session, in the order they were opened.
const std::vector<MessageBoxRecord> &messageBoxes();

struct BeepRecord {
    Micros time = 0;
    UINT type = 0;
};
const std::vector<BeepRecord> &beeps();

// ---- The toolbar control ---------------------------------------------------------------
struct ToolbarButtonView {
    int image = 0;
    int command = 0;
    BYTE state = 0;
    BYTE style = 0;
    std::string text;  // its string, which is also its tooltip
    RECT rect{};       // in the toolbar's client area
};
std::vector<ToolbarButtonView> toolbarButtons(HWND toolbar);
// A number that changes whenever the toolbar's buttons, their states or
// texts may have changed (0: not a toolbar), so a display can skip reading
// an unchanged one.
std::uint64_t toolbarRevision(HWND toolbar);
// The packed DIB (header, colour table, rows) of the toolbar's images and
// the size of one image in it.
struct ToolbarImages {
    std::vector<std::uint8_t> dib;
    int imageWidth = 16, imageHeight = 15;
};
std::optional<ToolbarImages> toolbarImages(HWND toolbar);
// The tooltip shown while the pointer rests over a button: its string.
std::optional<std::string> toolbarTooltip(HWND toolbar, int command);
// A click on the button with that command, at its centre (posted).
bool clickToolbarButton(HWND toolbar, int command);

}  // namespace plat::user
