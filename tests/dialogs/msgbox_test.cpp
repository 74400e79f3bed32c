// Message boxes: modal model windows recorded in the session's log, with
// the results their buttons, Enter, Escape and the close box give; beeps.
#include <gtest/gtest.h>

#include <memory>

#include "dialog_harness.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

class MessageBoxTest : public DialogTest {
protected:
    int show(HWND ownerWindow, const char *text, const char *caption, UINT type) {
        int result = -2;
        guard([&] { result = MessageBoxA(ownerWindow, text, caption, type); });
        return result;
    }
};

TEST_F(MessageBoxTest, RecordedWhileOpenAndAfter) {
    user().at(5, [&] {
        ASSERT_EQ(messageBoxLog().size(), 1u);
        const auto &box = messageBoxLog()[0];
        EXPECT_EQ(box.owner, owner());
        EXPECT_EQ(box.text, "Can't open file C:\\Images.AVI");
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.type, UINT{MB_OK | MB_ICONSTOP});
        EXPECT_EQ(box.time, 0);
        EXPECT_EQ(box.result, 0) << "still open";
        ASSERT_TRUE(box.window);
        EXPECT_EQ(findDialog("Error"), box.window);
        EXPECT_FALSE(IsWindowEnabled(owner()));
        // The text, an icon for the stop style, and OK.
        std::vector<std::string> classes;
        for (HWND child : plat::user::children(box.window)) classes.push_back(plat::user::find(child)->className);
        EXPECT_EQ(classes, (std::vector<std::string>{"STATIC", "STATIC", "BUTTON"}));
        EXPECT_EQ(itemText(box.window, IDOK), "OK");
        pressEnter();
    });
    EXPECT_EQ(show(owner(), "Can't open file C:\\Images.AVI", "Error", MB_OK | MB_ICONSTOP), IDOK);
    EXPECT_TRUE(IsWindowEnabled(owner()));
    ASSERT_EQ(messageBoxLog().size(), 1u);
    EXPECT_EQ(messageBoxLog()[0].result, IDOK);
    EXPECT_EQ(messageBoxLog()[0].window, nullptr);
}

TEST_F(MessageBoxTest, AnswersByTypeAndKey) {
    struct Case {
        const char *what;
        UINT type;
        std::function<void(HWND)> act;
        int result;
    };
    const Case cases[] = {
        {"OK box, Enter", MB_OK, [](HWND) { pressEnter(); }, IDOK},
        {"OK box, Escape counts as OK", MB_OK, [](HWND) { pressEscape(); }, IDOK},
        {"OK box, close box", MB_OK, [](HWND b) { closeDialog(b); }, IDOK},
        {"OK/Cancel, Escape", MB_OKCANCEL, [](HWND) { pressEscape(); }, IDCANCEL},
        {"OK/Cancel, Cancel clicked", MB_OKCANCEL, [](HWND b) { clickItem(b, IDCANCEL); }, IDCANCEL},
        {"Yes/No, No clicked", MB_YESNO, [](HWND b) { clickItem(b, IDNO); }, IDNO},
        {"Yes/No, Enter on the first button", MB_YESNO, [](HWND) { pressEnter(); }, IDYES},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        user().after(5, [&] { c.act(findDialog("Question")); });
        EXPECT_EQ(show(owner(), "Sure?", "Question", c.type), c.result);
        EXPECT_TRUE(plat::user::openDialogs().empty());
    }
    EXPECT_EQ(messageBoxLog().size(), std::size(cases));
}

// The keys of a Yes/No box as on Windows: the buttons' mnemonics answer it,
// with Alt or without, in either case, whichever button is the default; a
// key that names no button leaves it open.
struct MnemonicCase {
    const char *what;
    UINT type;
    UINT key;
    char character;
    bool alt;
    int result;  // 0: the box stays open
};
const MnemonicCase kMnemonicCases[] = {
    {"Y", MB_YESNO, 'Y', 'y', false, IDYES},
    {"N", MB_YESNO, 'N', 'n', false, IDNO},
    {"Shift+Y", MB_YESNO | MB_DEFBUTTON2, 'Y', 'Y', false, IDYES},
    {"Y with No the default", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, 'Y', 'y', false, IDYES},
    {"N with No the default", MB_YESNO | MB_DEFBUTTON2, 'N', 'n', false, IDNO},
    {"Alt+Y", MB_YESNO, 'Y', 'y', true, IDYES},
    {"Alt+N", MB_YESNO, 'N', 'n', true, IDNO},
    {"X names no button", MB_YESNO, 'X', 'x', false, 0},
    {"O is no mnemonic of OK", MB_OKCANCEL, 'O', 'o', false, 0},
};

TEST_F(MessageBoxTest, TheButtonsMnemonicsAnswer) {
    for (const MnemonicCase &c : kMnemonicCases) {
        SCOPED_TRACE(c.what);
        // The key, then a look at that box alone: a box the key left open is
        // closed with a button that is not the answer looked for.
        auto stillOpen = std::make_shared<bool>(false);
        user().after(5, [&c, this, stillOpen] {
            HWND box = findDialog("Question");
            ASSERT_NE(box, nullptr);
            user().pressKey(c.key, c.character, c.alt);
            user().after(5, [box, stillOpen, close = (c.type & 0xF) == MB_YESNO ? IDNO : IDCANCEL] {
                if (!IsWindow(box)) return;
                *stillOpen = true;
                clickItem(box, close);
            });
        });
        const int result = show(owner(), "Sure?", "Question", c.type);
        if (c.result != 0) {
            EXPECT_EQ(result, c.result);
            EXPECT_FALSE(*stillOpen);
        } else {
            EXPECT_TRUE(*stillOpen) << "a key that names no button answers nothing";
            EXPECT_NE(result, IDYES);
            EXPECT_NE(result, IDOK);
        }
    }
}

TEST_F(MessageBoxTest, YesNoBoxIgnoresEscape) {
    user().at(5, [] { pressEscape(); });
    user().at(10, [] {
        HWND box = findDialog("Question");
        EXPECT_TRUE(box) << "Escape has no answer in a Yes/No box";
        clickItem(box, IDYES);
    });
    EXPECT_EQ(show(owner(), "Sure?", "Question", MB_YESNO), IDYES);
}

TEST_F(MessageBoxTest, WithoutOwnerOrCaption) {
    user().at(5, [] {
        HWND box = topDialog();
        ASSERT_TRUE(box);
        EXPECT_EQ(plat::user::find(box)->text, "Error") << "the default caption";
        EXPECT_EQ(GetParent(box), nullptr);
        pressEnter();
    });
    EXPECT_EQ(show(nullptr, "Can't write image to AVI file", nullptr, MB_OK), IDOK);
    EXPECT_TRUE(IsWindowEnabled(owner())) << "a box without owner disables nothing";
    EXPECT_EQ(messageBoxLog()[0].owner, nullptr);
}

TEST_F(MessageBoxTest, TimersRunBehindABox) {
    SetTimer(owner(), 1, 250, nullptr);
    user().at(1100, [] { pressEnter(); });
    show(owner(), "Wait", "Info", MB_OK);
    EXPECT_EQ(ownerMessages(WM_TIMER).size(), 4u);
}

TEST_F(MessageBoxTest, BeepsAreRecordedAndSounded) {
    user().at(40, [] { MessageBeep(MB_ICONEXCLAMATION); });
    user().at(50, [] { PostQuitMessage(0); });
    MessageBeep(0);
    runMessageLoop();
    const auto &beeps = plat::user::beeps();
    ASSERT_EQ(beeps.size(), 2u);
    EXPECT_EQ(beeps[0].type, 0u);
    EXPECT_EQ(beeps[0].time, 0);
    EXPECT_EQ(beeps[1].type, UINT{MB_ICONEXCLAMATION});
    EXPECT_EQ(beeps[1].time, 40000);
    ASSERT_EQ(display().beeps().size(), 2u);
    EXPECT_EQ(display().beeps()[1].type, UINT{MB_ICONEXCLAMATION});
}

}  // namespace
}  // namespace noctil::test
