// A small harness for the dialog tests: an owner window that records what it
// is sent, and a dialog procedure that records what it sees and ends the
// dialog on the buttons that end the program's own dialogs.
#pragma once

#include <windows.h>

#include <vector>

#include "dialog_user.h"
#include "platform_fixture.h"

namespace noctil::test {

struct Recorded {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class DialogTest : public PlatformTest {
protected:
    DialogTest();
    ~DialogTest() override;

    // A visible top-level window, the owner of the dialogs under test.
    HWND owner() const { return owner_; }
    // What the owner and the dialog procedure received, in order.
    std::vector<Recorded> ownerMessages(UINT message) const;
    std::vector<Recorded> dialogMessages(UINT message) const;
    // The ids of the WM_COMMAND messages the dialog procedure received.
    std::vector<int> dialogCommands() const;

    // Runs a dialog of the program's resources with the recording procedure,
    // inside the hang guard; -2 when the run hung.
    INT_PTR runDialog(int templateId, HWND owner);

    // What the recording procedure returns from WM_INITDIALOG.
    BOOL initResult = TRUE;
    // Called from WM_INITDIALOG, with the dialog.
    std::function<void(HWND)> onInit;

    static DialogTest *current;
    static LRESULT CALLBACK ownerProc(HWND, UINT, WPARAM, LPARAM);
    static INT_PTR CALLBACK dialogProc(HWND, UINT, WPARAM, LPARAM);

    std::vector<Recorded> ownerLog_, dialogLog_;
    HWND owner_ = nullptr;
};

}  // namespace noctil::test
