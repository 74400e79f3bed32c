#include "menu_states.h"

#include <commctrl.h>

#include <cstdio>

#include "user/dialog_system.h"
#include "user/window_system.h"

namespace noctil::test {

namespace {

void addButtonState(RecordedMenuItem &item, HWND toolbar) {
    if (!toolbar) return;
    for (const plat::user::ToolbarButtonView &button : plat::user::toolbarButtons(toolbar))
        if (button.command == static_cast<int>(item.command)) {
            item.hasButton = true;
            item.buttonState = button.state;
            return;
        }
}

bool grayed(UINT state) { return (state & (MF_GRAYED | MF_DISABLED)) != 0; }

bool matches(const ExpectedMenuItem &e, const RecordedMenuItem &a) {
    if (e.command != a.command || !a.present) return false;
    const bool checked = (e.flags & kItemChecked) != 0, gray = (e.flags & kItemGrayed) != 0;
    if (((a.state & MF_CHECKED) != 0) != checked || grayed(a.state) != gray) return false;
    if ((e.flags & kItemText) && a.text != (e.text ? e.text : "")) return false;
    if (e.flags & kItemButton) {
        if (!a.hasButton) return false;
        if (((a.buttonState & TBSTATE_CHECKED) != 0) != checked) return false;
        if (((a.buttonState & TBSTATE_ENABLED) == 0) != gray) return false;
    }
    return true;
}

std::string describeExpected(const ExpectedMenuItem &e) {
    char text[160];
    std::snprintf(text, sizeof text, "%u%s%s%s%s", e.command, (e.flags & kItemChecked) ? " checked" : "",
                  (e.flags & kItemGrayed) ? " grayed" : " enabled", (e.flags & kItemButton) ? " +button" : "",
                  (e.flags & kItemOptional) ? " (optional)" : "");
    std::string out = text;
    if (e.flags & kItemText) out += std::string(" \"") + (e.text ? e.text : "") + "\"";
    return out;
}

std::string describeActual(const RecordedMenuItem &a) {
    char text[96];
    if (!a.present) {
        std::snprintf(text, sizeof text, "%u (no such item)", a.command);
        return text;
    }
    std::snprintf(text, sizeof text, "%u%s%s%s", a.command, (a.state & MF_CHECKED) ? " checked" : "",
                  (a.state & MF_GRAYED)     ? " grayed"
                  : (a.state & MF_DISABLED) ? " disabled"
                                            : " enabled",
                  "");
    std::string out = text;
    if (a.hasButton) {
        std::snprintf(text, sizeof text, " button%s%s", (a.buttonState & TBSTATE_CHECKED) ? " down" : "",
                      (a.buttonState & TBSTATE_ENABLED) ? " enabled" : " grayed");
        out += text;
    }
    return out + " \"" + a.text + "\"";
}

}  // namespace

std::vector<RecordedMenuItem> menuItemStates(HMENU menu, int from, HWND toolbar) {
    std::vector<RecordedMenuItem> out;
    const std::vector<plat::user::MenuItemView> items = plat::user::menuItems(menu);
    for (std::size_t i = from > 0 ? static_cast<std::size_t>(from) : 0; i < items.size(); ++i) {
        const plat::user::MenuItemView &item = items[i];
        if (item.flags & (MF_SEPARATOR | MF_POPUP)) continue;
        RecordedMenuItem recorded;
        recorded.command = item.id;
        recorded.text = item.text;
        recorded.state = item.flags & (MF_CHECKED | MF_GRAYED | MF_DISABLED);
        addButtonState(recorded, toolbar);
        out.push_back(recorded);
    }
    return out;
}

std::vector<RecordedMenuItem> menuItemsAfterLastSeparator(HMENU menu, HWND toolbar) {
    const std::vector<plat::user::MenuItemView> items = plat::user::menuItems(menu);
    int after = 0;
    for (std::size_t i = 0; i < items.size(); ++i)
        if (items[i].flags & MF_SEPARATOR) after = static_cast<int>(i) + 1;
    return menuItemStates(menu, after, toolbar);
}

std::vector<RecordedMenuItem> commandStates(HWND window, HWND toolbar, std::span<const ExpectedMenuItem> expected) {
    std::vector<RecordedMenuItem> out;
    HMENU menu = GetMenu(window);
    for (const ExpectedMenuItem &e : expected) {
        RecordedMenuItem recorded;
        recorded.command = e.command;
        const UINT state = GetMenuState(menu, e.command, MF_BYCOMMAND);
        if (state == ~0u) {
            recorded.present = false;
        } else {
            recorded.state = state & (MF_CHECKED | MF_GRAYED | MF_DISABLED);
            char text[256] = "";
            GetMenuStringA(menu, e.command, text, sizeof text, MF_BYCOMMAND);
            recorded.text = text;
        }
        addButtonState(recorded, toolbar);
        // An absent optional command is left out, as an absent item would be.
        if (recorded.present || !(e.flags & kItemOptional)) out.push_back(recorded);
    }
    return out;
}

::testing::AssertionResult menuStatesMatch(const char *context, std::span<const ExpectedMenuItem> expected,
                                           std::span<const RecordedMenuItem> actual) {
    SequenceRules rules;
    rules.expectedCount = expected.size();
    rules.actualCount = actual.size();
    rules.matches = [&](std::size_t e, std::size_t a) { return matches(expected[e], actual[a]); };
    rules.optional = [&](std::size_t e) { return (expected[e].flags & kItemOptional) != 0; };
    rules.describeExpected = [&](std::size_t e) { return describeExpected(expected[e]); };
    rules.describeActual = [&](std::size_t a) { return describeActual(actual[a]); };
    return sequenceMatches(context, "menu states", rules);
}

::testing::AssertionResult commandStatesMatch(const char *context, std::span<const ExpectedMenuItem> expected,
                                              HWND window, HWND toolbar) {
    return menuStatesMatch(context, expected, commandStates(window, toolbar, expected));
}

}  // namespace noctil::test
