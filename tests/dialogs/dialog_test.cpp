// Modal dialogs from the program's templates: creation and layout, the
// owner's modality, the nested loop, keyboard and close-box endings, and
// the dialog item calls.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "dialog_harness.h"
#include "resource.h"
#include "resources/resources.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

using plat::user::find;

std::array<LONG, 4> rectOf(HWND control) {
    const RECT r = find(control)->rect;
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

TEST_F(DialogTest, AboutBoxIsLaidOutInSystemFontUnits) {
    HWND seen = nullptr;
    user().at(10, [&] {
        seen = findDialog("About");
        ASSERT_TRUE(seen);
        RECT client{};
        GetClientRect(seen, &client);
        // 8x16 system font cells: 4 horizontal units are 8 pixels, 8 vertical units 16.
        EXPECT_EQ(client.right, 408);
        EXPECT_EQ(client.bottom, 152);
        EXPECT_EQ(rectOf(GetDlgItem(seen, IDOK)), (std::array<LONG, 4>{334, 14, 60, 22}));
        EXPECT_EQ(rectOf(GetDlgItem(seen, 2)), (std::array<LONG, 4>{28, 18, 40, 40}));
        EXPECT_TRUE(plat::user::staticIcon(GetDlgItem(seen, 2)));
        // The owner is disabled while the dialog is up, and the dialog is its own.
        EXPECT_FALSE(IsWindowEnabled(owner()));
        EXPECT_EQ(GetParent(seen), owner());
        // WM_INITDIALOG returned TRUE: the focus is on the first tab stop.
        EXPECT_EQ(GetFocus(), GetDlgItem(seen, IDOK));
        pressEnter();
    });
    EXPECT_EQ(runDialog(IDD_ABOUTBOX, owner()), IDOK);
    EXPECT_FALSE(IsWindow(seen));
    EXPECT_TRUE(IsWindowEnabled(owner()));
    // WM_INITDIALOG came with the first tab stop and the initialisation value.
    ASSERT_EQ(dialogMessages(WM_INITDIALOG).size(), 1u);
    EXPECT_EQ(dialogMessages(WM_INITDIALOG)[0].lParam, 0x1234);
}

TEST_F(DialogTest, EachWayOfEndingGivesItsId) {
    struct Case {
        const char *what;
        std::function<void(HWND)> act;
        INT_PTR result;
    };
    const Case cases[] = {
        {"Enter", [](HWND) { pressEnter(); }, IDOK},
        {"Escape", [](HWND) { pressEscape(); }, IDCANCEL},
        {"close box", [](HWND d) { EXPECT_TRUE(closeDialog(d)); }, IDCANCEL},
        {"OK clicked", [](HWND d) { EXPECT_TRUE(clickItem(d, IDOK)); }, IDOK},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        user().after(5, [&] { c.act(findDialog("About")); });
        EXPECT_EQ(runDialog(IDD_ABOUTBOX, owner()), c.result);
        EXPECT_TRUE(plat::user::openDialogs().empty());
        EXPECT_TRUE(IsWindowEnabled(owner()));
    }
}

TEST_F(DialogTest, OwnerTimersRunWhileTheDialogIsOpen) {
    SetTimer(owner(), 7, 100, nullptr);
    user().at(1050, [] { pressEscape(); });
    EXPECT_EQ(runDialog(IDD_ABOUTBOX, owner()), IDCANCEL);
    EXPECT_EQ(ownerMessages(WM_TIMER).size(), 10u);
    EXPECT_EQ(nowMs(), 1050u);
}

TEST_F(DialogTest, PostedMessagesReachTheOwnerDuringTheDialog) {
    user().at(10, [&] { PostMessageA(owner(), WM_COMMAND, 4242, 0); });
    user().at(20, [] { pressEscape(); });
    runDialog(IDD_ABOUTBOX, owner());
    ASSERT_EQ(ownerMessages(WM_COMMAND).size(), 1u);
    EXPECT_EQ(ownerMessages(WM_COMMAND)[0].wParam, 4242u);
}

TEST_F(DialogTest, FocusStaysWhereInitPutItWhenInitReturnsFalse) {
    initResult = FALSE;
    onInit = [](HWND d) { SetFocus(GetDlgItem(d, IDC_COUNT)); };
    user().at(5, [] {
        HWND d = findDialog("Setup Capture");
        EXPECT_EQ(GetFocus(), GetDlgItem(d, IDC_COUNT));
        pressEscape();
    });
    EXPECT_EQ(runDialog(IDD_SETUP, owner()), IDCANCEL);
}

TEST_F(DialogTest, SetupDialogLayoutAndTabOrder) {
    user().at(5, [&] {
        HWND d = findDialog("Setup Capture");
        ASSERT_TRUE(d);
        RECT client{};
        GetClientRect(d, &client);
        // MS Sans Serif 8: a 6x13 cell.
        EXPECT_EQ(client.right, 386);
        EXPECT_EQ(client.bottom, 192);
        EXPECT_EQ(rectOf(GetDlgItem(d, IDC_EXPOSURE)), (std::array<LONG, 4>{110, 11, 60, 23}));
    });
    std::vector<int> focusOrder;
    for (std::uint32_t i = 0; i < 11; ++i)
        user().at(10 + i, [&] {
            focusOrder.push_back(GetDlgCtrlID(GetFocus()));
            pressTab();
        });
    user().at(30, [] { pressEscape(); });
    runDialog(IDD_SETUP, owner());
    // Template order, the statics skipped, and round again to the exposure box.
    EXPECT_EQ(focusOrder, (std::vector<int>{IDC_EXPOSURE, IDC_DELAY, IDC_COUNT, IDC_AMPOFF, IDC_FILENAME, IDC_BROWSE,
                                            IDC_AUTOINCREMENT, IDC_STARTCAPTURE, IDOK, IDCANCEL, IDC_EXPOSURE}));
}

TEST_F(DialogTest, EnterPressesTheFocusedPushButtonOrTheDefault) {
    struct Case {
        int focus;
        INT_PTR result;
    };
    for (const Case c :
         {Case{IDC_EXPOSURE, IDOK}, Case{IDC_STARTCAPTURE, IDC_STARTCAPTURE}, Case{IDCANCEL, IDCANCEL}}) {
        SCOPED_TRACE(c.focus);
        user().after(5, [&] {
            SetFocus(GetDlgItem(findDialog("Setup Capture"), c.focus));
            pressEnter();
        });
        EXPECT_EQ(runDialog(IDD_SETUP, owner()), c.result);
    }
}

TEST_F(DialogTest, DisabledButtonsCannotEndTheDialog) {
    user().at(5, [] {
        HWND d = findDialog("Setup Capture");
        EnableWindow(GetDlgItem(d, IDOK), FALSE);
        EnableWindow(GetDlgItem(d, IDC_STARTCAPTURE), FALSE);
        pressEnter();
        clickItem(d, IDC_STARTCAPTURE);
    });
    user().at(10, [] {
        HWND d = findDialog("Setup Capture");
        EXPECT_TRUE(d) << "Enter and the click were refused";
        EnableWindow(GetDlgItem(d, IDC_STARTCAPTURE), TRUE);
        clickItem(d, IDC_STARTCAPTURE);
    });
    EXPECT_EQ(runDialog(IDD_SETUP, owner()), IDC_STARTCAPTURE);
    EXPECT_EQ(dialogCommands(), (std::vector<int>{IDC_STARTCAPTURE}));
}

TEST_F(DialogTest, TypingIntoEditBoxes) {
    user().at(5, [] {
        HWND d = findDialog("Setup Capture");
        SetDlgItemInt(d, IDC_EXPOSURE, 2000, FALSE);
        SetDlgItemTextA(d, IDC_FILENAME, "C:\\Images.AVI");
        typeInto(d, IDC_EXPOSURE, "12a3");       // digits only
        typeInto(d, IDC_DELAY, "7", false);      // appended to what is there
        typeInto(d, IDC_FILENAME, "C:\\x.avi");  // read-only
        typeInto(d, IDC_COUNT, "99\b5");         // a backspace takes the last digit back
    });
    std::vector<std::string> texts;
    user().at(10, [&] {
        HWND d = findDialog("Setup Capture");
        for (int id : {IDC_EXPOSURE, IDC_DELAY, IDC_FILENAME, IDC_COUNT}) texts.push_back(itemText(d, id));
        pressEscape();
    });
    runDialog(IDD_SETUP, owner());
    EXPECT_EQ(texts, (std::vector<std::string>{"123", "7", "C:\\Images.AVI", "95"}));
    // The refused letter beeped; the read-only box refused silently.
    ASSERT_EQ(plat::user::beeps().size(), 1u);
    EXPECT_EQ(display().beeps().size(), 1u);
}

TEST_F(DialogTest, FocusByTabSelectsTheTextSoTypingReplacesIt) {
    std::string typed;
    user().at(5, [] {
        HWND d = findDialog("Setup Capture");
        SetDlgItemTextA(d, IDC_DELAY, "500");
        pressTab();  // exposure -> delay
    });
    user().at(6, [] { plat::user::typeText(GetFocus(), "42"); });
    user().at(7, [&] {
        typed = itemText(findDialog("Setup Capture"), IDC_DELAY);
        pressEscape();
    });
    runDialog(IDD_SETUP, owner());
    EXPECT_EQ(typed, "42");
}

TEST_F(DialogTest, AutoCheckBoxesToggleAndTellTheParent) {
    std::vector<UINT> states;
    user().at(5, [] {
        HWND d = findDialog("Setup Capture");
        CheckDlgButton(d, IDC_AUTOINCREMENT, BST_CHECKED);
        clickItem(d, IDC_AMPOFF);
        clickItem(d, IDC_AUTOINCREMENT);
    });
    user().at(6, [&] {
        HWND d = findDialog("Setup Capture");
        states = {IsDlgButtonChecked(d, IDC_AMPOFF), IsDlgButtonChecked(d, IDC_AUTOINCREMENT),
                  static_cast<UINT>(SendMessageA(GetDlgItem(d, IDC_AMPOFF), BM_GETCHECK, 0, 0))};
        clickItem(d, IDC_AMPOFF);
    });
    user().at(7, [&] {
        states.push_back(IsDlgButtonChecked(findDialog("Setup Capture"), IDC_AMPOFF));
        pressEscape();
    });
    runDialog(IDD_SETUP, owner());
    EXPECT_EQ(states, (std::vector<UINT>{BST_CHECKED, BST_UNCHECKED, BST_CHECKED, BST_UNCHECKED}));
    std::vector<int> clicks;
    for (const Recorded &r : dialogMessages(WM_COMMAND))
        if (HIWORD(r.wParam) == BN_CLICKED) clicks.push_back(LOWORD(r.wParam));
    EXPECT_EQ(clicks, (std::vector<int>{IDC_AMPOFF, IDC_AUTOINCREMENT, IDC_AMPOFF, IDCANCEL}));
}

// GetDlgItemInt follows the platform's parsing: leading blanks skipped, an
// optional minus sign when signed, digits only, and no overflow.
TEST_F(DialogTest, GetDlgItemIntParsing) {
    struct Case {
        const char *text;
        BOOL isSigned;
        UINT value;
        BOOL translated;
    };
    const Case cases[] = {
        {"123", FALSE, 123, TRUE},
        {"  42", FALSE, 42, TRUE},
        {"\t7", FALSE, 7, TRUE},
        {"", FALSE, 0, FALSE},
        {"   ", FALSE, 0, FALSE},
        {"12a", FALSE, 0, FALSE},
        {"7 ", FALSE, 0, FALSE},
        {"+5", FALSE, 0, FALSE},
        {"-5", FALSE, 0, FALSE},
        {"4294967295", FALSE, 4294967295u, TRUE},
        {"4294967296", FALSE, 0, FALSE},
        {"99999999999999999999", FALSE, 0, FALSE},
        {"-5", TRUE, static_cast<UINT>(-5), TRUE},
        {" -0", TRUE, 0, TRUE},
        {"-", TRUE, 0, FALSE},
        {"2147483647", TRUE, 2147483647u, TRUE},
        {"2147483648", TRUE, 0, FALSE},
        {"-2147483648", TRUE, 0x80000000u, TRUE},
        {"-2147483649", TRUE, 0, FALSE},
    };
    user().at(5, [&] {
        HWND d = findDialog("Setup Capture");
        for (const Case &c : cases) {
            SetDlgItemTextA(d, IDC_DELAY, c.text);
            BOOL translated = 99;
            UINT value = GetDlgItemInt(d, IDC_DELAY, &translated, c.isSigned);
            EXPECT_EQ(value, c.value) << '"' << c.text << '"' << (c.isSigned ? " signed" : "");
            EXPECT_EQ(translated, c.translated) << '"' << c.text << '"' << (c.isSigned ? " signed" : "");
        }
        BOOL translated = 99;
        EXPECT_EQ(GetDlgItemInt(d, 4711, &translated, FALSE), 0u);
        EXPECT_EQ(translated, FALSE) << "no such item";
        pressEscape();
    });
    runDialog(IDD_SETUP, owner());
}

TEST_F(DialogTest, ItemTextAndNumbersRoundTrip) {
    user().at(5, [] {
        HWND d = findDialog("Setup Capture");
        SetDlgItemInt(d, IDC_COUNT, static_cast<UINT>(-1), FALSE);
        EXPECT_EQ(itemText(d, IDC_COUNT), "4294967295");
        SetDlgItemInt(d, IDC_COUNT, static_cast<UINT>(-1), TRUE);
        EXPECT_EQ(itemText(d, IDC_COUNT), "-1");

        // Text is cut to the buffer, terminator included.
        SetDlgItemTextA(d, IDC_FILENAME, "abcdef");
        char buffer[8];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(GetDlgItemTextA(d, IDC_FILENAME, buffer, 4), 3u);
        EXPECT_STREQ(buffer, "abc");
        EXPECT_EQ(buffer[4], 'x') << "nothing written past the buffer";
        EXPECT_EQ(GetDlgItemTextA(d, 4711, buffer, 8), 0u);
        EXPECT_STREQ(buffer, "");

        HWND exposure = GetDlgItem(d, IDC_EXPOSURE);
        EXPECT_EQ(GetDlgCtrlID(exposure), IDC_EXPOSURE);
        EXPECT_EQ(GetParent(exposure), d);
        EXPECT_EQ(GetDlgItem(d, 4711), nullptr);
        EXPECT_EQ(GetDlgCtrlID(d), 0) << "a dialog is no control";
        pressEscape();
    });
    runDialog(IDD_SETUP, owner());
}

TEST_F(DialogTest, MissingTemplatesAndDestroyedOwners) {
    EXPECT_EQ(DialogBoxParamA(plat::res::moduleInstance(), MAKEINTRESOURCEA(999), owner(), dialogProc, 0), -1);
    EXPECT_TRUE(IsWindowEnabled(owner()));
    // The owner destroyed while the dialog is up takes the dialog with it.
    user().at(5, [&] { DestroyWindow(owner()); });
    EXPECT_EQ(runDialog(IDD_ABOUTBOX, owner()), 0);
    EXPECT_TRUE(plat::user::openDialogs().empty());
    EXPECT_FALSE(EndDialog(owner(), 1));
}

}  // namespace
}  // namespace noctil::test
