// The tests' menu-state tables (tests/support/menu_states.h): each kind of
// difference between a table and a menu fails the comparison, and the
// failure shows the numbered rows.
#include <string>
#include <vector>

#include "menu_states.h"
#include "probe_window.h"

namespace noctil::test {
namespace {

// Options-like pop-up: two fixed items, a separator, then three entries.
struct Popup {
    HWND window;
    HMENU bar, popup;
};
Popup buildPopup(HWND window) {
    Popup p{window, CreateMenu(), CreatePopupMenu()};
    AppendMenuA(p.popup, MF_STRING, 20, "Video &Source");
    AppendMenuA(p.popup, MF_STRING | MF_GRAYED, 21, "&Overlay");
    AppendMenuA(p.popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(p.popup, MF_STRING, 30, "&0 Alpha");
    AppendMenuA(p.popup, MF_STRING | MF_CHECKED, 31, "&1 Beta");
    AppendMenuA(p.popup, MF_STRING | MF_CHECKED | MF_GRAYED, 32, "&2 Gamma");
    AppendMenuA(p.bar, MF_POPUP, reinterpret_cast<UINT_PTR>(p.popup), "&Options");
    SetMenu(window, p.bar);
    return p;
}

using MenuStates = UserTest;

TEST_F(MenuStates, EveryDifferenceFailsTheComparison) {
    const Popup p = buildPopup(make());
    struct Case {
        const char *name;
        std::vector<ExpectedMenuItem> entries;  // after the separator
        bool matches;
    } cases[] = {
        {"as shown", {{30}, {31, kItemChecked}, {32, kItemChecked | kItemGrayed}}, true},
        {"texts as shown",
         {{30, kItemText, "&0 Alpha"}, {31, kItemChecked | kItemText, "&1 Beta"}, {32, kItemChecked | kItemGrayed}},
         true},
        {"an optional entry that is absent",
         {{30}, {40, kItemOptional}, {31, kItemChecked}, {32, kItemChecked | kItemGrayed}},
         true},
        {"a check mark missing", {{30, kItemChecked}, {31, kItemChecked}, {32, kItemChecked | kItemGrayed}}, false},
        {"a check mark too many", {{30}, {31}, {32, kItemChecked | kItemGrayed}}, false},
        {"grayed where enabled", {{30, kItemGrayed}, {31, kItemChecked}, {32, kItemChecked | kItemGrayed}}, false},
        {"enabled where grayed", {{30}, {31, kItemChecked}, {32, kItemChecked}}, false},
        {"another text", {{30, kItemText, "&0 Alpha "}, {31, kItemChecked}, {32, kItemChecked | kItemGrayed}}, false},
        {"another command", {{30}, {33, kItemChecked}, {32, kItemChecked | kItemGrayed}}, false},
        {"an entry more than shown", {{30}, {31, kItemChecked}, {32, kItemChecked | kItemGrayed}, {33}}, false},
        {"an entry fewer than shown", {{30}, {31, kItemChecked}}, false},
        {"nothing where entries are shown", {}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bool(menuStatesMatch(c.name, c.entries, menuItemsAfterLastSeparator(p.popup))), c.matches);
    }
}

TEST_F(MenuStates, CommandsAreFoundThroughThePopupsAndAnAbsentOneFails) {
    const Popup p = buildPopup(make());
    const ExpectedMenuItem present[] = {{21, kItemGrayed}, {20}, {31, kItemChecked}};
    EXPECT_TRUE(commandStatesMatch("present", present, p.window));
    const ExpectedMenuItem absent[] = {{21, kItemGrayed}, {99}};
    EXPECT_FALSE(commandStatesMatch("absent", absent, p.window));
    const ExpectedMenuItem optional[] = {{21, kItemGrayed}, {99, kItemOptional}};
    EXPECT_TRUE(commandStatesMatch("optional", optional, p.window));
    const ExpectedMenuItem noToolbar[] = {{20, kItemButton}};
    EXPECT_FALSE(commandStatesMatch("no toolbar", noToolbar, p.window)) << "a button is expected where none is";
}

TEST_F(MenuStates, AFailureShowsExpectedBesideActualNumbered) {
    const Popup p = buildPopup(make());
    const ExpectedMenuItem expected[] = {{30}, {31}, {32, kItemChecked | kItemGrayed}};
    const ::testing::AssertionResult result =
        menuStatesMatch("driver entries", expected, menuItemsAfterLastSeparator(p.popup));
    ASSERT_FALSE(result);
    const std::string text = result.message();
    EXPECT_NE(text.find("driver entries: menu states"), std::string::npos) << text;
    EXPECT_NE(text.find("!!  2  expected 31 enabled"), std::string::npos) << text;
    EXPECT_NE(text.find("actual 31 checked enabled \"&1 Beta\""), std::string::npos) << text;
    EXPECT_NE(text.find("    1  expected 30 enabled"), std::string::npos) << text;
}

}  // namespace
}  // namespace noctil::test
