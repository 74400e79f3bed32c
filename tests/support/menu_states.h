// Expected menu and toolbar states as constant tables, compared with what a
// person sees in the program's menus and on its toolbar. Each expected item
// names its command and says with flags whether it shows a check mark, is
// grayed, may be absent, must carry a given text, and whether the toolbar's
// button of the command must show the same. The comparison and its printing
// (expected beside actual, numbered) are message_sequence.h's.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <span>
#include <string>
#include <vector>

#include "message_sequence.h"

namespace noctil::test {

// Flags of an expected menu item. Its check mark and its grayed state are
// always compared: an item without kItemChecked must show none, one without
// kItemGrayed must be enabled.
enum : unsigned {
    kItemChecked = 1,   // shows a check mark (on the toolbar: the button is down)
    kItemGrayed = 2,    // grayed or disabled: a click does nothing (on the toolbar: not enabled)
    kItemOptional = 4,  // may be absent; the next actual item is then compared with the next entry
    kItemText = 8,      // the item's text (with its '&' mnemonics) must be the one given
    kItemButton = 16,   // the toolbar has a button of the command showing the same state
};

// Command 0 is an item known by its text alone (give kItemText), as a
// display's own view of a menu shows it.
struct ExpectedMenuItem {
    UINT command = 0;
    unsigned flags = 0;
    const char *text = nullptr;  // with kItemText
};

struct RecordedMenuItem {
    UINT command = 0;
    bool present = true;  // false: the menu has no item of the command
    std::string text;
    UINT state = 0;  // MF_CHECKED, MF_GRAYED, MF_DISABLED of the menu item
    bool hasButton = false;
    BYTE buttonState = 0;  // TBSTATE_* of the toolbar's button
};

// The items of a menu from position `from` on, separators and pop-ups left
// out, with the state of `toolbar`'s button of each command (toolbar may be
// null).
std::vector<RecordedMenuItem> menuItemStates(HMENU menu, int from = 0, HWND toolbar = nullptr);
// The items of `menu` after its last separator (where the program lists
// what it found, such as the capture drivers).
std::vector<RecordedMenuItem> menuItemsAfterLastSeparator(HMENU menu, HWND toolbar = nullptr);
// The commands of `expected`, in its order, as the window's menu (searched
// through its pop-ups) and the toolbar show them.
std::vector<RecordedMenuItem> commandStates(HWND window, HWND toolbar, std::span<const ExpectedMenuItem> expected);

::testing::AssertionResult menuStatesMatch(const char *context, std::span<const ExpectedMenuItem> expected,
                                           std::span<const RecordedMenuItem> actual);
// The commands of `expected` in the window's menu and on the toolbar.
::testing::AssertionResult commandStatesMatch(const char *context, std::span<const ExpectedMenuItem> expected,
                                              HWND window, HWND toolbar = nullptr);

}  // namespace noctil::test
