// Keys to the focus window, characters from key messages, and accelerator
// tables translated in the program's kind of message loop.
#include "probe_window.h"

namespace noctil::test {
namespace {

constexpr UINT kSlashKey = 0xBF;  // the "/ ?" key of a US layout
constexpr UINT kAbout = 104;
constexpr UINT kRecord = 32776;

class Keyboard : public UserTest {
protected:
    Keyboard() {
        ACCEL entries[] = {
            {FALT, '?', kAbout},
            {FALT, '/', kAbout},
            {FVIRTKEY | FCONTROL, 'R', kRecord},
        };
        table = CreateAcceleratorTableA(entries, 3);
    }
    ~Keyboard() override { DestroyAcceleratorTable(table); }

    // The program's loop: accelerators first, for the window the key was
    // meant for. Dispatching through dispatchNoted lets the probes tell a
    // command the accelerator sent from a message the loop dispatched.
    int runProgramLoop() {
        int code = -1;
        guard([&] {
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0)) {
                if (TranslateAcceleratorA(msg.hwnd, table, &msg)) continue;
                TranslateMessage(&msg);
                dispatchNoted(msg);
            }
            code = static_cast<int>(msg.wParam);
        });
        return code;
    }

    HACCEL table = nullptr;
};

TEST_F(Keyboard, AltQuestionMarkAndAltSlashGoToTheFocusWindowAsCommands) {
    HWND main = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND other = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);  // shown last: it has the focus
    using plat::user::kAlt;
    using plat::user::kShift;
    user().at(100, [&] { EXPECT_EQ(user().pressKeyWith(kSlashKey, '?', kAlt | kShift), other); });
    user().at(200, [&] { user().click(main); });
    user().at(300, [&] { EXPECT_EQ(user().pressKeyWith(kSlashKey, '?', kAlt | kShift), main); });
    user().at(400, [&] { user().pressKey(kSlashKey, '/', true); });
    user().at(500, [&] { user().pressKey(kSlashKey, '/'); });  // no Alt: a plain character
    user().at(600, [] { PostQuitMessage(0); });
    EXPECT_EQ(runProgramLoop(), 0);
    // An accelerator sends its command (1 in the high word: from an accelerator).
    const ExpectedMessage kAboutTwice[] = {{WM_COMMAND, kMsgSent | kMsgWParam, MAKEWPARAM(kAbout, 1)},
                                           {WM_COMMAND, kMsgSent | kMsgWParam, MAKEWPARAM(kAbout, 1)}};
    const ExpectedMessage kAboutOnce[] = {{WM_COMMAND, kMsgSent | kMsgWParam, MAKEWPARAM(kAbout, 1)}};
    EXPECT_TRUE(messageSequenceMatches("main window, after its click", kAboutTwice, sequence(main, {WM_COMMAND})));
    EXPECT_TRUE(messageSequenceMatches("window focused first", kAboutOnce, sequence(other, {WM_COMMAND})));
    const auto chars = all(WM_CHAR);
    ASSERT_EQ(chars.size(), 1u);
    EXPECT_EQ(chars[0].wParam, static_cast<WPARAM>('/'));
    EXPECT_EQ(chars[0].window, main);
    EXPECT_TRUE(all(WM_SYSCHAR).empty()) << "translated keys are not dispatched";
}

TEST_F(Keyboard, VirtualKeyAcceleratorsNeedExactlyTheirModifiers) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    using namespace plat::user;
    struct Case {
        const char *what;
        unsigned modifiers;
        bool command;
    };
    const Case cases[] = {
        {"Ctrl+R", kControl, true},
        {"R alone", 0, false},
        {"Ctrl+Shift+R", kControl | kShift, false},
        {"Ctrl+Alt+R", kControl | kAlt, false},
    };
    std::uint32_t at = 100;
    for (const Case &c : cases) {
        user().at(at, [&, c] { user().pressKeyWith('R', 'r', c.modifiers); });
        at += 100;
    }
    user().at(at, [] { PostQuitMessage(0); });
    EXPECT_EQ(runProgramLoop(), 0);
    std::vector<std::uint32_t> commandTimes;
    for (const Seen &s : all(WM_COMMAND)) {
        EXPECT_EQ(s.wParam, MAKEWPARAM(kRecord, 1));
        EXPECT_EQ(s.window, w);
        commandTimes.push_back(s.ms);
    }
    EXPECT_EQ(commandTimes, std::vector<std::uint32_t>{100});
}

TEST_F(Keyboard, AcceleratorForAGrayedMenuItemOpensTheMenuButSendsNoCommand) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HMENU bar = CreateMenu();
    HMENU help = CreatePopupMenu();
    AppendMenuA(help, MF_STRING, kAbout, "&About ...");
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), "&Help");
    SetMenu(w, bar);
    user().at(100, [&] { user().pressKey(kSlashKey, '/', true); });
    user().at(200, [&] {
        EnableMenuItem(bar, kAbout, MF_BYCOMMAND | MF_GRAYED);
        user().pressKey(kSlashKey, '/', true);
    });
    user().at(300, [] { PostQuitMessage(0); });
    EXPECT_EQ(runProgramLoop(), 0);
    EXPECT_EQ(all(WM_INITMENU).size(), 2u);
    const ExpectedMessage kOnlyWhileEnabled[] = {{WM_COMMAND, kMsgSent | kMsgWParam, MAKEWPARAM(kAbout, 1)}};
    EXPECT_TRUE(messageSequenceMatches("About enabled, then grayed", kOnlyWhileEnabled, sequence(w, {WM_COMMAND})));
    EXPECT_EQ(all(WM_COMMAND).at(0).ms, 100u);
}

TEST_F(Keyboard, KeysBecomeCharactersRightAfterTheirKeyDown) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    user().at(10, [&] {
        user().pressKey('A', 0);  // no character from the display: the layout's own
        user().pressKey(VK_RETURN, 0);
        user().pressKey('X', 'x', true);
        PostQuitMessage(0);
    });
    EXPECT_EQ(runMessageLoop(), 0);
    // Each key comes through the queue; TranslateMessage posts its
    // character, which the loop hands out before the key's release.
    const ExpectedMessage kKeys[] = {
        {WM_KEYDOWN, kMsgPosted | kMsgWParam, 'A'},    {WM_CHAR, kMsgPosted | kMsgWParam, 'a'},
        {WM_KEYUP, kMsgPosted | kMsgWParam, 'A'},      {WM_KEYDOWN, kMsgPosted | kMsgWParam, VK_RETURN},
        {WM_CHAR, kMsgPosted | kMsgWParam, '\r'},      {WM_KEYUP, kMsgPosted | kMsgWParam, VK_RETURN},
        {WM_SYSKEYDOWN, kMsgPosted | kMsgWParam, 'X'}, {WM_SYSCHAR, kMsgPosted | kMsgWParam, 'x'},
        {WM_SYSKEYUP, kMsgPosted | kMsgWParam, 'X'},
    };
    EXPECT_TRUE(
        messageSequenceMatches("A, Enter, Alt+X", kKeys,
                               sequence(w, {WM_KEYDOWN, WM_CHAR, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSCHAR, WM_SYSKEYUP})));
    const auto chars = all(WM_CHAR);
    ASSERT_EQ(chars.size(), 2u);
    EXPECT_EQ(chars[0].wParam, static_cast<WPARAM>('a'));
    EXPECT_EQ(chars[1].wParam, static_cast<WPARAM>('\r'));
    EXPECT_EQ(all(WM_SYSCHAR).at(0).wParam, static_cast<WPARAM>('x'));
    EXPECT_TRUE(all(WM_SYSCHAR).at(0).lParam & (LPARAM{KF_ALTDOWN} << 16));
}

TEST_F(Keyboard, KeysFollowTheFocusAndSkipDisabledWindows) {
    HWND parent = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND edit = make(WS_CHILD | WS_VISIBLE, parent, 1001);
    SetFocus(edit);
    EXPECT_EQ(user().pressKey('A', 'a'), edit);
    SetFocus(nullptr);
    EXPECT_EQ(user().pressKey('A', 'a'), parent) << "with no focus, the active window";
    EnableWindow(parent, FALSE);
    EXPECT_EQ(user().pressKey('A', 'a'), nullptr);
}

}  // namespace
}  // namespace noctil::test
