// The toolbar control, filled the way the program fills it: strings, the
// bitmap strip from the resources, four buttons; states, autosizing, clicks
// and tooltips.
#include <gtest/gtest.h>
#include <commctrl.h>

#include <cstring>

#include "dialog_harness.h"
#include "resource.h"
#include "resources/resources.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

class ToolbarTest : public DialogTest {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
        ASSERT_TRUE(InitCommonControlsEx(&init));
        bar = CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, WS_CHILD | CCS_ADJUSTABLE | TBSTYLE_TOOLTIPS, 0, 0, 0, 0,
                              owner(), reinterpret_cast<HMENU>(IDC_TOOLBAR), plat::res::moduleInstance(), nullptr);
        ASSERT_TRUE(bar);
        send(TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
        for (const char *name : {"Record\0", "Stop\0", "Pause\0", "Setup\0"})
            stringIndex.push_back(static_cast<int>(send(TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(name))));
        send(TB_SETMAXTEXTROWS, 0, 0);
        TBADDBITMAP bitmap{plat::res::moduleInstance(), IDB_TOOLBAR};
        bitmapIndex = send(TB_ADDBITMAP, 4, reinterpret_cast<LPARAM>(&bitmap));
        TBBUTTON buttons[4] = {};
        const int commands[4] = {IDM_RECORD, IDM_STOP, IDM_PAUSE, IDM_SETUP};
        for (int i = 0; i < 4; ++i) {
            buttons[i].iBitmap = i;
            buttons[i].idCommand = commands[i];
            buttons[i].fsState = TBSTATE_ENABLED;
            buttons[i].fsStyle = TBSTYLE_BUTTON;
            buttons[i].iString = stringIndex[i];
        }
        added = send(TB_ADDBUTTONSA, 4, reinterpret_cast<LPARAM>(buttons));
        send(TB_AUTOSIZE, 0, 0);
        ShowWindow(bar, SW_SHOW);
    }
    LRESULT send(UINT message, WPARAM wParam, LPARAM lParam) { return SendMessageA(bar, message, wParam, lParam); }
    std::vector<WPARAM> commandsToOwner() const {
        std::vector<WPARAM> out;
        for (const Recorded &r : ownerMessages(WM_COMMAND)) out.push_back(r.wParam);
        return out;
    }

    HWND bar = nullptr;
    std::vector<int> stringIndex;
    LRESULT bitmapIndex = -1, added = FALSE;
};

TEST_F(ToolbarTest, FilledAsTheProgramFillsIt) {
    EXPECT_EQ(stringIndex, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(bitmapIndex, 0);
    EXPECT_TRUE(added);
    EXPECT_EQ(send(TB_BUTTONCOUNT, 0, 0), 4);
    const int commands[4] = {IDM_RECORD, IDM_STOP, IDM_PAUSE, IDM_SETUP};
    for (int i = 0; i < 4; ++i) {
        TBBUTTON b{};
        ASSERT_TRUE(send(TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&b)));
        EXPECT_EQ(b.idCommand, commands[i]);
        EXPECT_EQ(b.iBitmap, i);
        EXPECT_EQ(b.fsState, TBSTATE_ENABLED);
        EXPECT_EQ(send(TB_COMMANDTOINDEX, commands[i], 0), i);
    }
    EXPECT_FALSE(send(TB_GETBUTTON, 4, 0));
    char text[16] = "";
    EXPECT_EQ(send(TB_GETBUTTONTEXTA, IDM_PAUSE, reinterpret_cast<LPARAM>(text)), 5);
    EXPECT_STREQ(text, "Pause");
    // Autosized along the top of the owner's client area, as wide as it.
    RECT ownerClient{}, barRect{};
    GetClientRect(owner(), &ownerClient);
    GetClientRect(bar, &barRect);
    EXPECT_EQ(barRect.right, ownerClient.right);
    EXPECT_GT(barRect.bottom, 22);
    EXPECT_LE(barRect.bottom, 30);
    EXPECT_EQ(plat::user::find(bar)->rect.top, 0);
    // The images are the resource's strip.
    auto images = plat::user::toolbarImages(bar);
    ASSERT_TRUE(images);
    EXPECT_EQ(images->dib, *plat::res::loadBitmap(plat::res::moduleInstance(), MAKEINTRESOURCEA(IDB_TOOLBAR)));
}

TEST_F(ToolbarTest, StatesByCommand) {
    struct Step {
        UINT message;
        int command;
        LPARAM value;
        BYTE stateAfter;
    };
    const Step steps[] = {
        {TB_ENABLEBUTTON, IDM_STOP, FALSE, 0},
        {TB_ENABLEBUTTON, IDM_STOP, TRUE, TBSTATE_ENABLED},
        {TB_CHECKBUTTON, IDM_PAUSE, TRUE, TBSTATE_ENABLED | TBSTATE_CHECKED},
        {TB_ENABLEBUTTON, IDM_PAUSE, 0, TBSTATE_CHECKED},
        {TB_CHECKBUTTON, IDM_PAUSE, 0, 0},
        {TB_PRESSBUTTON, IDM_SETUP, 1, TBSTATE_ENABLED | TBSTATE_PRESSED},
        {TB_SETSTATE, IDM_RECORD, TBSTATE_CHECKED, TBSTATE_CHECKED},
    };
    for (const Step &s : steps) {
        EXPECT_TRUE(send(s.message, s.command, MAKELONG(s.value, 0)));
        EXPECT_EQ(send(TB_GETSTATE, s.command, 0), s.stateAfter) << s.message << " " << s.command;
        EXPECT_EQ(send(TB_ISBUTTONENABLED, s.command, 0) != 0, (s.stateAfter & TBSTATE_ENABLED) != 0);
        EXPECT_EQ(send(TB_ISBUTTONCHECKED, s.command, 0) != 0, (s.stateAfter & TBSTATE_CHECKED) != 0);
        EXPECT_EQ(send(TB_ISBUTTONPRESSED, s.command, 0) != 0, (s.stateAfter & TBSTATE_PRESSED) != 0);
    }
    // Commands the toolbar does not have.
    EXPECT_FALSE(send(TB_ENABLEBUTTON, 12345, TRUE));
    EXPECT_EQ(send(TB_GETSTATE, 12345, 0), -1);
    EXPECT_EQ(send(TB_COMMANDTOINDEX, 12345, 0), -1);
}

TEST_F(ToolbarTest, ClicksOnEnabledButtonsSendTheirCommands) {
    send(TB_ENABLEBUTTON, IDM_STOP, FALSE);
    user().at(10, [&] {
        for (int command : {IDM_RECORD, IDM_STOP, IDM_SETUP}) EXPECT_TRUE(plat::user::clickToolbarButton(bar, command));
    });
    user().at(20, [&] {
        // A disabled owner takes no clicks.
        EnableWindow(owner(), FALSE);
        plat::user::clickToolbarButton(bar, IDM_PAUSE);
    });
    user().at(30, [] { PostQuitMessage(0); });
    runMessageLoop();
    const HWND fromBar = bar;
    ASSERT_EQ(commandsToOwner(), (std::vector<WPARAM>{IDM_RECORD, IDM_SETUP}));
    EXPECT_EQ(ownerMessages(WM_COMMAND)[0].lParam, reinterpret_cast<LPARAM>(fromBar));
}

TEST_F(ToolbarTest, ReleaseOutsideThePressedButtonIsNoClick) {
    const auto buttons = plat::user::toolbarButtons(bar);
    ASSERT_EQ(buttons.size(), 4u);
    const RECT record = buttons[0].rect, stop = buttons[1].rect;
    EXPECT_EQ(record.right, stop.left) << "side by side";
    PostMessageA(bar, WM_LBUTTONDOWN, 0, MAKELPARAM(record.left + 2, record.top + 2));
    PostMessageA(bar, WM_LBUTTONUP, 0, MAKELPARAM(stop.left + 2, stop.top + 2));
    PostQuitMessage(0);
    runMessageLoop();
    EXPECT_TRUE(commandsToOwner().empty());
}

TEST_F(ToolbarTest, TooltipsAreTheButtonStrings) {
    const std::pair<int, const char *> expected[] = {
        {IDM_RECORD, "Record"}, {IDM_STOP, "Stop"}, {IDM_PAUSE, "Pause"}, {IDM_SETUP, "Setup"}};
    for (auto [command, text] : expected) EXPECT_EQ(plat::user::toolbarTooltip(bar, command), text);
    EXPECT_FALSE(plat::user::toolbarTooltip(bar, 999));
}

TEST_F(ToolbarTest, RefusedRequests) {
    TBADDBITMAP missing{plat::res::moduleInstance(), 4711};
    EXPECT_EQ(send(TB_ADDBITMAP, 1, reinterpret_cast<LPARAM>(&missing)), -1);
    TBADDBITMAP tooMany{plat::res::moduleInstance(), IDB_TOOLBAR};
    EXPECT_EQ(send(TB_ADDBITMAP, 5, reinterpret_cast<LPARAM>(&tooMany)), -1) << "the strip holds four images";
    EXPECT_EQ(send(TB_ADDSTRINGA, reinterpret_cast<WPARAM>(plat::res::moduleInstance()), 5), -1);
    // Button records of another size are not read.
    send(TB_BUTTONSTRUCTSIZE, 20, 0);
    TBBUTTON b{};
    EXPECT_FALSE(send(TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&b)));
    EXPECT_EQ(send(TB_BUTTONCOUNT, 0, 0), 4);
    // Without the common controls initialised there is no toolbar class.
    INITCOMMONCONTROLSEX wrong{4, ICC_WIN95_CLASSES};
    EXPECT_FALSE(InitCommonControlsEx(&wrong));
}

TEST(ToolbarClass, ExistsOnlyAfterInitialisation) {
    class Fixture : public PlatformTest {
        void TestBody() override {}
    } platform;
    EXPECT_FALSE(
        CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    EXPECT_TRUE(InitCommonControlsEx(&init));
    EXPECT_TRUE(
        CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace noctil::test
