// Creation, destruction, the close box, visibility, enabling, focus, titles
// and geometry of windows.
#include <cstring>
#include <string>

#include "probe_window.h"

namespace noctil::test {
namespace {

using WindowLifecycle = UserTest;

TEST_F(WindowLifecycle, CreationSendsItsMessagesWithTheCreationRecord) {
    int marker = 0;
    CREATESTRUCTA atCreate{};
    handler = [&](HWND, UINT m, WPARAM, LPARAM lp) -> std::optional<LRESULT> {
        if (m == WM_CREATE) atCreate = *reinterpret_cast<CREATESTRUCTA *>(lp);
        return std::nullopt;
    };
    HWND w = CreateWindowExA(0, "probe", "Title", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 400, 300, nullptr, nullptr,
                             nullptr, &marker);
    ASSERT_TRUE(w);
    // Creation sends them all, in this order, before CreateWindowExA returns.
    const ExpectedMessage kCreation[] = {
        {WM_NCCREATE, kMsgSent}, {WM_CREATE, kMsgSent}, {WM_SIZE, kMsgSent}, {WM_MOVE, kMsgSent}};
    EXPECT_TRUE(messageSequenceMatches("creation", kCreation, sequence(w, {WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE})));
    EXPECT_EQ(atCreate.lpCreateParams, &marker);
    EXPECT_STREQ(atCreate.lpszName, "Title");
    EXPECT_EQ(atCreate.cx, 400);
    EXPECT_NE(atCreate.x, CW_USEDEFAULT);  // placed by the window system
    char title[16];
    EXPECT_EQ(GetWindowTextA(w, title, sizeof title), 5);
    EXPECT_STREQ(title, "Title");
    EXPECT_FALSE(IsWindowVisible(w));  // no WS_VISIBLE: hidden until shown
}

TEST_F(WindowLifecycle, DefaultPlacedWindowsStartSideBySideThenCascade) {
    // The program's main and snapshot windows both ask for the default
    // place; they must not start on top of each other.
    HWND first = CreateWindowExA(0, "probe", "first", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 660, 570, nullptr, nullptr,
                                 nullptr, nullptr);
    HWND second = CreateWindowExA(0, "probe", "second", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 600, 520, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_TRUE(first && second);
    RECT a{}, b{};
    GetWindowRect(first, &a);
    GetWindowRect(second, &b);
    EXPECT_GT(b.left, a.right) << "the second window starts right of the first";
    EXPECT_EQ(a.top, b.top);
    // A third window would start past the screen's usual width: cascade.
    HWND third = CreateWindowExA(0, "probe", "third", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, 300, 200, nullptr, nullptr,
                                 nullptr, nullptr);
    RECT c{};
    GetWindowRect(third, &c);
    EXPECT_LT(c.left, a.right);
    EXPECT_GE(c.left, 0);
}

TEST_F(WindowLifecycle, CreationFailsCleanly) {
    struct Case {
        const char *what;
        UINT failAt;  // message whose answer fails the creation, or 0
        LRESULT answer;
        DWORD style;
        bool withParent;
        const char *className;
    };
    const Case cases[] = {
        {"WM_CREATE answers -1", WM_CREATE, -1, WS_OVERLAPPEDWINDOW, false, "Probe"},
        {"WM_NCCREATE answers FALSE", WM_NCCREATE, FALSE, WS_OVERLAPPEDWINDOW, false, "Probe"},
        {"child without a parent", 0, 0, WS_CHILD, false, "Probe"},
        {"unknown class", 0, 0, WS_OVERLAPPEDWINDOW, false, "NoSuchClass"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        seen.clear();
        HWND during = nullptr;
        handler = [&](HWND w, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            during = w;
            if (m == c.failAt) return c.answer;
            return std::nullopt;
        };
        HWND w = CreateWindowExA(0, c.className, "x", c.style, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(w, nullptr);
        if (during) {
            EXPECT_FALSE(IsWindow(during));
        }
        if (c.failAt == WM_CREATE) {
            EXPECT_EQ(got(during, {WM_DESTROY}).size(), 1u);
        }
    }
    EXPECT_TRUE(plat::user::windows().empty());
}

TEST_F(WindowLifecycle, DestroyReachesTheWindowThenItsChildrenAndTakesTheirTimersAndMessages) {
    HWND parent = make();
    HWND first = make(WS_CHILD | WS_VISIBLE, parent, 1);
    HWND grandchild = make(WS_CHILD, first, 2);
    HWND second = make(WS_CHILD, parent, 3);
    HWND unrelated = make();
    SetTimer(grandchild, 7, 10, nullptr);
    SetTimer(unrelated, 8, 50, nullptr);
    PostMessageA(second, WM_USER + 1, 0, 0);
    PostMessageA(unrelated, WM_USER + 2, 0, 0);
    // While the parent handles WM_DESTROY its children still exist.
    bool childAliveDuringParentDestroy = false;
    handler = [&](HWND w, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (w == parent && m == WM_DESTROY) childAliveDuringParentDestroy = IsWindow(second);
        if (w == unrelated && m == WM_TIMER) PostQuitMessage(0);
        return std::nullopt;
    };
    seen.clear();
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_EQ(receivers(WM_DESTROY), (std::vector<HWND>{parent, first, grandchild, second}));
    EXPECT_EQ(receivers(WM_NCDESTROY), (std::vector<HWND>{grandchild, first, second, parent}));
    EXPECT_TRUE(childAliveDuringParentDestroy);
    for (HWND gone : {parent, first, grandchild, second}) EXPECT_FALSE(IsWindow(gone));
    EXPECT_TRUE(IsWindow(unrelated));
    EXPECT_FALSE(DestroyWindow(parent));
    EXPECT_FALSE(KillTimer(grandchild, 7));

    // Messages for the destroyed windows are dropped; the rest still arrive.
    seen.clear();
    EXPECT_EQ(SendMessageA(second, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(first, WM_USER, 0, 0));
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_EQ(receivers(WM_USER + 1), std::vector<HWND>{});
    EXPECT_EQ(receivers(WM_USER + 2), std::vector<HWND>{unrelated});
    EXPECT_EQ(receivers(WM_TIMER), std::vector<HWND>{unrelated});
    EXPECT_EQ(nowMs(), 50u);
}

TEST_F(WindowLifecycle, OwnedWindowsGoWithTheirOwnerButUnownedOnesStay) {
    HWND owner = make();
    HWND owned = make(WS_POPUP | WS_CAPTION, owner);
    HWND separate = make();
    EXPECT_EQ(GetParent(owned), owner);
    DestroyWindow(owner);
    EXPECT_FALSE(IsWindow(owned));
    EXPECT_TRUE(IsWindow(separate));
    EXPECT_EQ(receivers(WM_DESTROY), (std::vector<HWND>{owned, owner}));
}

TEST_F(WindowLifecycle, WindowDestroyedInsideItsOwnProcedureStaysUsableUntilItReturns) {
    HWND w = make();
    std::string titleAfter;
    handler = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER) {
            DestroyWindow(h);
            char buffer[8] = "unset";
            GetWindowTextA(h, buffer, sizeof buffer);
            titleAfter = buffer;
            return 5;
        }
        return std::nullopt;
    };
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, 0), 5);
    EXPECT_EQ(titleAfter, "");  // the handle is no longer a window
}

TEST_F(WindowLifecycle, CloseBoxClosesThroughSysCommandAndCloseAndEndsTheLoop) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    handler = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_DESTROY) PostQuitMessage(3);
        return std::nullopt;
    };
    bool clicked = false;
    user().at(500, [&] { clicked = user().closeBox(w); });
    EXPECT_EQ(runMessageLoop(), 3);
    EXPECT_TRUE(clicked);
    EXPECT_FALSE(IsWindow(w));
    // The click posts SC_CLOSE; its default handling sends WM_CLOSE, whose
    // default handling destroys the window.
    const ExpectedMessage kCloseBox[] = {
        {WM_SYSCOMMAND, kMsgPosted | kMsgWParam, SC_CLOSE}, {WM_CLOSE, kMsgSent}, {WM_DESTROY, kMsgSent}};
    EXPECT_TRUE(messageSequenceMatches("close box", kCloseBox, sequence(w, {WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY})));
    EXPECT_EQ(all(WM_SYSCOMMAND).at(0).wParam, static_cast<WPARAM>(SC_CLOSE));
    EXPECT_EQ(all(WM_CLOSE).at(0).ms, 500u);
}

TEST_F(WindowLifecycle, CloseBoxExistsOnlyOnAnEnabledCaptionWithASystemMenu) {
    struct Case {
        const char *what;
        DWORD style;
        bool disable;
        bool expected;
    };
    const Case cases[] = {
        {"overlapped window", WS_OVERLAPPEDWINDOW, false, true},
        {"caption without system menu", WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, false, false},
        {"disabled window", WS_OVERLAPPEDWINDOW, true, false},
        {"no caption", WS_POPUP | WS_SYSMENU, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        HWND w = make(c.style | WS_VISIBLE);
        if (c.disable) EnableWindow(w, FALSE);
        EXPECT_EQ(user().closeBox(w), c.expected);
        DestroyWindow(w);
    }
}

TEST_F(WindowLifecycle, ShowCommandsSetVisibilityAndMinimizedState) {
    struct Case {
        int command;
        bool visible;
        bool iconic;
    };
    const Case cases[] = {
        {SW_SHOWNORMAL, true, false},     {SW_SHOWMINIMIZED, true, true}, {SW_MINIMIZE, true, true},
        {SW_SHOWMINNOACTIVE, true, true}, {SW_RESTORE, true, false},      {SW_HIDE, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.command);
        HWND w = make();
        EXPECT_FALSE(ShowWindow(w, c.command));  // it was hidden before
        EXPECT_EQ(static_cast<bool>(IsWindowVisible(w)), c.visible);
        EXPECT_EQ(static_cast<bool>(IsIconic(w)), c.iconic);
        if (c.visible) {
            EXPECT_TRUE(ShowWindow(w, SW_SHOW));
        }
        DestroyWindow(w);
    }
}

TEST_F(WindowLifecycle, ChildIsVisibleOnlyWhileItsParentIs) {
    HWND parent = make();
    HWND child = make(WS_CHILD | WS_VISIBLE, parent, 1);
    EXPECT_FALSE(IsWindowVisible(child));
    ShowWindow(parent, SW_SHOWNORMAL);
    EXPECT_TRUE(IsWindowVisible(child));
    EXPECT_EQ(GetParent(child), parent);
    EXPECT_EQ(plat::user::childById(parent, 1), child);
}

TEST_F(WindowLifecycle, EnableWindowReportsThePreviousStateAndTakesTheFocusAway) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_EQ(GetFocus(), w);
    EXPECT_FALSE(EnableWindow(w, FALSE));
    EXPECT_FALSE(IsWindowEnabled(w));
    EXPECT_EQ(GetFocus(), nullptr);
    EXPECT_TRUE(EnableWindow(w, FALSE));  // already disabled: no second WM_ENABLE
    EXPECT_TRUE(EnableWindow(w, TRUE));
    EXPECT_TRUE(IsWindowEnabled(w));
    const ExpectedMessage kEnabling[] = {{WM_ENABLE, kMsgSent | kMsgWParam, FALSE},
                                         {WM_ENABLE, kMsgSent | kMsgWParam, TRUE}};
    EXPECT_TRUE(messageSequenceMatches("disable, disable again, enable", kEnabling, sequence(w, {WM_ENABLE})));
}

TEST_F(WindowLifecycle, FocusMovesWithMessagesAndShowingActivates) {
    HWND a = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    EXPECT_EQ(GetFocus(), a);
    HWND b = make();
    ShowWindow(b, SW_SHOWNOACTIVATE);
    EXPECT_EQ(GetFocus(), a);
    ShowWindow(b, SW_SHOWNORMAL);
    EXPECT_EQ(GetFocus(), b);
    seen.clear();
    EXPECT_EQ(SetFocus(a), b);
    EXPECT_EQ(receivers(WM_KILLFOCUS), std::vector<HWND>{b});
    EXPECT_EQ(receivers(WM_SETFOCUS), std::vector<HWND>{a});
    DestroyWindow(a);
    EXPECT_EQ(GetFocus(), nullptr);
}

TEST_F(WindowLifecycle, ClosingAnOwnedWindowHandsTheFocusBackToItsOwner) {
    HWND owner = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND dialog = make(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE, owner);
    EXPECT_EQ(GetFocus(), dialog);
    DestroyWindow(dialog);
    EXPECT_EQ(GetFocus(), owner);
}

TEST_F(WindowLifecycle, FindWindowMatchesClassAndTitleOfTopLevelWindows) {
    HWND a = make(WS_OVERLAPPEDWINDOW, nullptr, 0, "First");
    HWND b = make(WS_OVERLAPPEDWINDOW, nullptr, 0, "Second");
    make(WS_CHILD, a, 5, "Child");
    EXPECT_EQ(FindWindowA("PROBE", nullptr), a);
    EXPECT_EQ(FindWindowA(nullptr, "Second"), b);
    EXPECT_EQ(FindWindowA("Probe", "Child"), nullptr);
    EXPECT_EQ(FindWindowA("Other", nullptr), nullptr);
}

TEST_F(WindowLifecycle, WindowTextIsCutToTheBuffer) {
    HWND w = make();
    EXPECT_TRUE(SetWindowTextA(w, "NoctilSnapshot"));
    struct Case {
        int size;
        int copied;
        const char *text;
    };
    for (Case c : {Case{64, 14, "NoctilSnapshot"}, Case{7, 6, "Noctil"}, Case{1, 0, ""}}) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(GetWindowTextA(w, buffer, c.size), c.copied);
        EXPECT_STREQ(buffer, c.text);
    }
    EXPECT_EQ(SendMessageA(w, WM_GETTEXTLENGTH, 0, 0), 14);
}

TEST_F(WindowLifecycle, ClientAreaIsTheWindowLessItsFrameCaptionAndMenu) {
    HWND plain = make(WS_POPUP);
    HWND framed = make(WS_OVERLAPPEDWINDOW);
    HWND withMenu = make(WS_OVERLAPPEDWINDOW);
    HMENU bar = CreateMenu();
    AppendMenuA(bar, MF_STRING, 1, "&File");
    SetMenu(withMenu, bar);
    RECT plainClient, framedClient, menuClient, outer;
    GetClientRect(plain, &plainClient);
    GetClientRect(framed, &framedClient);
    GetClientRect(withMenu, &menuClient);
    GetWindowRect(framed, &outer);
    EXPECT_EQ(plainClient.right, 300);
    EXPECT_EQ(plainClient.bottom, 200);
    EXPECT_EQ(outer.left, 10);
    EXPECT_EQ(outer.bottom, 220);
    EXPECT_LT(framedClient.right, 300);
    EXPECT_LT(framedClient.bottom, 200);
    EXPECT_EQ(menuClient.right, framedClient.right);
    EXPECT_LT(menuClient.bottom, framedClient.bottom);

    // A child's window rectangle is on the screen, inside the parent's client area.
    HWND child = make(WS_CHILD, framed, 9);
    MoveWindow(child, 0, 30, 50, 40, TRUE);
    RECT childOuter;
    GetWindowRect(child, &childOuter);
    EXPECT_GT(childOuter.left, outer.left);
    EXPECT_EQ(childOuter.bottom - childOuter.top, 40);
}

TEST_F(WindowLifecycle, SetWindowPosKeepsWhatItsFlagsProtect) {
    struct Case {
        UINT flags;
        RECT expected;
    };
    const Case cases[] = {
        {SWP_NOZORDER, {5, 6, 105, 56}},
        {SWP_NOZORDER | SWP_NOMOVE, {10, 20, 110, 70}},
        {SWP_NOZORDER | SWP_NOSIZE, {5, 6, 305, 206}},
        {SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE, {10, 20, 310, 220}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        HWND w = make(WS_POPUP);
        seen.clear();
        EXPECT_TRUE(SetWindowPos(w, nullptr, 5, 6, 100, 50, c.flags));
        RECT r;
        GetWindowRect(w, &r);
        EXPECT_EQ(r.left, c.expected.left);
        EXPECT_EQ(r.top, c.expected.top);
        EXPECT_EQ(r.right, c.expected.right);
        EXPECT_EQ(r.bottom, c.expected.bottom);
        EXPECT_EQ(got(w, {WM_SIZE}).size(), (c.flags & SWP_NOSIZE) ? 0u : 1u);
        DestroyWindow(w);
    }
}

}  // namespace
}  // namespace noctil::test
