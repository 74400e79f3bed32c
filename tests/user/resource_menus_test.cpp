// The window system over the program's own resources: the class menu each
// window gets from its template, and the accelerator table as the resource
// compiler wrote it.
#include "probe_window.h"
#include "resource.h"
#include "resources/resources.h"

namespace noctil::test {
namespace {

class ResourceMenus : public UserTest {
protected:
    HWND makeWithClassMenu() {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = plat::res::moduleInstance();
        wc.lpszMenuName = MAKEINTRESOURCEA(IDC_MAINMENU);
        wc.lpszClassName = "WithMenu";
        RegisterClassExA(&wc);  // fails harmlessly the second time: the class exists
        return CreateWindowExA(0, "WithMenu", "m", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                               nullptr, nullptr, plat::res::moduleInstance(), nullptr);
    }
};

TEST_F(ResourceMenus, EachWindowGetsItsOwnCopyOfTheClassMenu) {
    HWND a = makeWithClassMenu();
    HWND b = makeWithClassMenu();
    ASSERT_TRUE(a && b);
    HMENU menuA = GetMenu(a), menuB = GetMenu(b);
    ASSERT_TRUE(menuA && menuB);
    EXPECT_NE(menuA, menuB);
    EXPECT_EQ(GetMenuItemCount(menuA), 5);
    char text[32];
    GetMenuStringA(menuA, 2, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "&Capture");
    EnableMenuItem(GetSubMenu(menuA, 2), IDM_RECORD, MF_BYCOMMAND | MF_GRAYED);
    EXPECT_EQ(GetMenuState(menuA, IDM_RECORD, MF_BYCOMMAND), static_cast<UINT>(MF_GRAYED));
    EXPECT_EQ(GetMenuState(menuB, IDM_RECORD, MF_BYCOMMAND), 0u);
}

TEST_F(ResourceMenus, TheProgramsAcceleratorsTurnAltQuestionMarkIntoAbout) {
    HACCEL table = LoadAcceleratorsA(plat::res::moduleInstance(), MAKEINTRESOURCEA(IDC_MAINMENU));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(LoadAcceleratorsA(plat::res::moduleInstance(), MAKEINTRESOURCEA(999)), nullptr);
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    MSG msg{};
    msg.hwnd = w;
    msg.message = WM_SYSCHAR;
    msg.wParam = '?';
    msg.lParam = 1 | (LPARAM{KF_ALTDOWN} << 16);
    EXPECT_TRUE(TranslateAcceleratorA(w, table, &msg));
    msg.message = WM_CHAR;  // the same character without Alt
    msg.lParam = 1;
    EXPECT_FALSE(TranslateAcceleratorA(w, table, &msg));
    const auto commands = all(WM_COMMAND);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].wParam, MAKEWPARAM(IDM_ABOUT, 1));
}

}  // namespace
}  // namespace noctil::test
