// Menus: lookups by command and by position, item states, appending, and
// choosing a command as a person does.
#include <cstring>
#include <string>

#include "probe_window.h"

namespace noctil::test {
namespace {

constexpr UINT kNotFound = 0xFFFFFFFF;

// A bar shaped like a real one: File, Options (ending in a separator),
// Capture; command 7 appears twice so lookups by command must pick the first.
struct MenuBar {
    HMENU bar, file, options, capture;
};
MenuBar buildBar() {
    MenuBar m{CreateMenu(), CreatePopupMenu(), CreatePopupMenu(), CreatePopupMenu()};
    AppendMenuA(m.file, MF_STRING, 10, "&Save images in...");
    AppendMenuA(m.file, MF_STRING, 7, "&Autoincrement");
    AppendMenuA(m.file, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(m.file, MF_STRING, 105, "E&xit");
    AppendMenuA(m.options, MF_STRING, 20, "Video &Source");
    AppendMenuA(m.options, MF_STRING | MF_GRAYED, 21, "&Overlay");
    AppendMenuA(m.options, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(m.capture, MF_STRING, 7, "Second seven");
    AppendMenuA(m.capture, MF_STRING | MF_CHECKED, 32790, "&Pause");
    AppendMenuA(m.bar, MF_POPUP, reinterpret_cast<UINT_PTR>(m.file), "&File");
    AppendMenuA(m.bar, MF_POPUP, reinterpret_cast<UINT_PTR>(m.options), "&Options");
    AppendMenuA(m.bar, MF_POPUP, reinterpret_cast<UINT_PTR>(m.capture), "&Capture");
    return m;
}

using Menus = UserTest;

TEST_F(Menus, StructureByPosition) {
    MenuBar m = buildBar();
    EXPECT_EQ(GetMenuItemCount(m.bar), 3);
    EXPECT_EQ(GetSubMenu(m.bar, 2), m.capture);
    EXPECT_EQ(GetSubMenu(m.bar, 3), nullptr);
    EXPECT_EQ(GetSubMenu(m.file, 0), nullptr);
    EXPECT_EQ(GetMenuItemCount(nullptr), -1);
    struct Case {
        HMENU menu;
        int position;
        UINT id;
    };
    const Case cases[] = {
        {m.file, 0, 10},         {m.file, 2, 0},        {m.file, 3, 105},
        {m.file, 4, kNotFound},  {m.bar, 0, kNotFound},  // a pop-up has no command id
        {m.file, -1, kNotFound},
    };
    for (const Case &c : cases) EXPECT_EQ(GetMenuItemID(c.menu, c.position), c.id) << c.position;
}

TEST_F(Menus, StateByCommandSearchesPopupsDepthFirst) {
    MenuBar m = buildBar();
    struct Case {
        const char *what;
        HMENU menu;
        UINT item;
        UINT flags;
        UINT state;
    };
    const Case cases[] = {
        {"grayed item in a pop-up", m.bar, 21, MF_BYCOMMAND, MF_GRAYED},
        {"checked item", m.bar, 32790, MF_BYCOMMAND, MF_CHECKED},
        {"separator by position", m.file, 2, MF_BYPOSITION, MF_SEPARATOR},
        {"pop-up by position: item count in the high byte", m.bar, 1, MF_BYPOSITION, (3u << 8) | MF_POPUP},
        {"missing command", m.bar, 999, MF_BYCOMMAND, kNotFound},
        {"position past the end", m.bar, 3, MF_BYPOSITION, kNotFound},
    };
    for (const Case &c : cases) EXPECT_EQ(GetMenuState(c.menu, c.item, c.flags), c.state) << c.what;

    char text[32];
    EXPECT_EQ(GetMenuStringA(m.bar, 7, text, sizeof text, MF_BYCOMMAND), 14);
    EXPECT_STREQ(text, "&Autoincrement");  // the first item with the id, in File
}

TEST_F(Menus, GetMenuStringRespectsTheBufferSize) {
    MenuBar m = buildBar();
    struct Case {
        int maxCount;
        bool buffer;
        int result;
        const char *text;
    };
    const Case cases[] = {
        {32, true, 5, "E&xit"}, {6, true, 5, "E&xit"}, {5, true, 4, "E&xi"},
        {1, true, 0, ""},       {0, true, 5, "?"},     {32, false, 5, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.maxCount);
        char text[32] = "?";
        EXPECT_EQ(GetMenuStringA(m.file, 105, c.buffer ? text : nullptr, c.maxCount, MF_BYCOMMAND), c.result);
        if (c.text) {
            EXPECT_STREQ(text, c.text);
        }
    }
    char text[16] = "?";
    EXPECT_EQ(GetMenuStringA(m.file, 2, text, sizeof text, MF_BYPOSITION), 0) << "a separator has no text";
    EXPECT_EQ(GetMenuStringA(m.file, 999, text, sizeof text, MF_BYCOMMAND), 0);
    EXPECT_EQ(GetMenuStringA(m.bar, 1, text, sizeof text, MF_BYPOSITION), 8);
    EXPECT_STREQ(text, "&Options");
}

TEST_F(Menus, EnableAndCheckReturnThePreviousState) {
    MenuBar m = buildBar();
    struct Step {
        const char *what;
        bool check;  // CheckMenuItem, else EnableMenuItem
        UINT item;
        UINT flags;
        DWORD previous;
        UINT stateAfter;
    };
    const Step steps[] = {
        {"gray Record-like item", false, 10, MF_BYCOMMAND | MF_GRAYED, MF_ENABLED, MF_GRAYED},
        {"gray it again", false, 10, MF_BYCOMMAND | MF_GRAYED, MF_GRAYED, MF_GRAYED},
        {"enable it", false, 10, MF_BYCOMMAND | MF_ENABLED, MF_GRAYED, 0},
        {"check it", true, 10, MF_BYCOMMAND | MF_CHECKED, MF_UNCHECKED, MF_CHECKED},
        {"gray keeps the check", false, 10, MF_BYCOMMAND | MF_GRAYED, MF_ENABLED, MF_CHECKED | MF_GRAYED},
        {"uncheck keeps the gray", true, 10, MF_BYCOMMAND | MF_UNCHECKED, MF_CHECKED, MF_GRAYED},
        {"disable by position", false, 3, MF_BYPOSITION | MF_DISABLED, MF_ENABLED, MF_DISABLED},
        {"missing command", true, 999, MF_BYCOMMAND | MF_CHECKED, kNotFound, kNotFound},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.what);
        DWORD previous = s.check ? CheckMenuItem(m.file, s.item, s.flags)
                                 : static_cast<DWORD>(EnableMenuItem(m.file, s.item, s.flags));
        EXPECT_EQ(previous, s.previous);
        EXPECT_EQ(GetMenuState(m.file, s.item, s.flags & MF_BYPOSITION), s.stateAfter);
    }
    // By command through the bar reaches the pop-up's item.
    EXPECT_EQ(CheckMenuItem(m.bar, 32790, MF_BYCOMMAND | MF_UNCHECKED), static_cast<DWORD>(MF_CHECKED));
    EXPECT_EQ(GetMenuState(m.capture, 32790, MF_BYCOMMAND), 0u);
}

TEST_F(Menus, AppendedEntriesFollowTheSeparator) {
    MenuBar m = buildBar();
    char name[32];
    for (int i = 0; i < 3; ++i) {
        std::snprintf(name, sizeof name, "&%d Camera %d", i, i);
        EXPECT_TRUE(AppendMenuA(m.options, MF_STRING, 32771 + i, name));
    }
    EXPECT_EQ(GetMenuItemCount(m.options), 6);
    EXPECT_EQ(GetMenuItemID(m.options, 3), 32771u);
    EXPECT_EQ(GetMenuItemID(m.options, 5), 32773u);
    GetMenuStringA(m.bar, 32772, name, sizeof name, MF_BYCOMMAND);
    EXPECT_STREQ(name, "&1 Camera 1");
    EXPECT_FALSE(AppendMenuA(nullptr, MF_STRING, 1, "x"));
    EXPECT_FALSE(AppendMenuA(m.bar, MF_POPUP, 0x999, "not a menu"));
}

TEST_F(Menus, WindowMenuGoesWithTheWindow) {
    HWND w = make();
    MenuBar m = buildBar();
    EXPECT_TRUE(SetMenu(w, m.bar));
    EXPECT_EQ(GetMenu(w), m.bar);
    DestroyWindow(w);
    EXPECT_EQ(GetMenuItemCount(m.bar), -1);
    EXPECT_EQ(GetMenuItemCount(m.capture), -1);
}

TEST_F(Menus, ChoosingACommandOpensTheMenuThenPostsTheCommand) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    MenuBar m = buildBar();
    SetMenu(w, m.bar);
    std::vector<bool> posted;
    user().at(100, [&] { posted.push_back(user().clickMenu(w, 105)); });
    user().at(200, [&] { posted.push_back(user().clickMenu(w, 21)); });  // grayed
    user().at(300, [&] { posted.push_back(user().clickMenu(w, 12345)); });
    user().at(400, [&] {
        EnableWindow(w, FALSE);  // as under a modal dialog
        posted.push_back(user().clickMenu(w, 105));
        EnableWindow(w, TRUE);
    });
    user().at(500, [&] { PostQuitMessage(0); });
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_EQ(posted, (std::vector<bool>{true, false, false, false}));
    // Every enabled window's menu was opened first; only the Exit command came.
    std::vector<std::uint32_t> initTimes;
    for (const Seen &s : all(WM_INITMENU)) {
        EXPECT_EQ(s.wParam, reinterpret_cast<WPARAM>(m.bar));
        initTimes.push_back(s.ms);
    }
    EXPECT_EQ(initTimes, (std::vector<std::uint32_t>{100, 200, 300}));
    const auto commands = all(WM_COMMAND);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].wParam, MAKEWPARAM(105, 0));
    EXPECT_EQ(commands[0].ms, 100u);
}

TEST_F(Menus, InitMenuMayChangeTheItemBeforeItIsChosen) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    MenuBar m = buildBar();
    SetMenu(w, m.bar);
    handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
        if (msg == WM_INITMENU) EnableMenuItem(reinterpret_cast<HMENU>(wp), 10, MF_BYCOMMAND | MF_GRAYED);
        return std::nullopt;
    };
    EXPECT_FALSE(user().clickMenu(w, 10));
}

}  // namespace
}  // namespace noctil::test
