// What a person does with dialogs, message boxes, the toolbar and the Save
// As dialog, for tests: find the open dialog by its title, type into its
// controls, click its buttons, answer with Enter or Escape, and read the
// session's log of message boxes and beeps. Call these inside scripted
// actions; what they post is handled by the running dialog's loop.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "user/dialog_system.h"

namespace noctil::test {

// The newest open dialog or message box with that title, or null.
HWND findDialog(std::string_view title);
// The newest open dialog of any title, or null.
HWND topDialog();

// Types into a control of a dialog the way a person does after clicking
// into it: `replace` selects its whole text first, so the typing replaces it.
// Returns false when there is no such control.
bool typeInto(HWND dialog, int id, std::string_view text, bool replace = true);
// A click on a control of the dialog (a button, a check box).
bool clickItem(HWND dialog, int id);
// Enter, Escape and Tab to the window with the keyboard focus.
HWND pressEnter();
HWND pressEscape();
HWND pressTab();
// The close box of a dialog's caption.
bool closeDialog(HWND dialog);

// The text of a control.
std::string itemText(HWND dialog, int id);

// The session's message boxes, in the order they were opened.
const std::vector<plat::user::MessageBoxRecord> &messageBoxLog();
// Texts of the message boxes, for a compact comparison.
std::vector<std::string> messageBoxTexts();

}  // namespace noctil::test
