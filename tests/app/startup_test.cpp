// Start-up and the ways the program ends.
#include <commctrl.h>

#include <fstream>

#include "app_test.h"
#include "menu_states.h"
#include "files/paths.h"
#include "port_timeline.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

using StartupTest = AppTest;

// A window of the test's own, whose first posted message tells how far
// start-up had gone when the program's message loop fetched its first message.
struct FirstMessageProbe {
    static constexpr UINT kMessage = WM_USER + 77;
    static inline std::vector<plat::PortWrite> writesSeen;
    static inline bool seen = false;
    static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kMessage && !seen) {
            seen = true;
            writesSeen = cameraPortWrites();
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

TEST_F(StartupTest, RestsThePortTwiceBeforeTheFirstMessage) {
    installCamera(Camera::None);
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = FirstMessageProbe::proc;
    wc.lpszClassName = "FirstMessageProbe";
    ASSERT_NE(RegisterClassExA(&wc), 0);
    HWND probe = CreateWindowExA(0, "FirstMessageProbe", "", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(probe, nullptr);
    FirstMessageProbe::seen = false;
    ASSERT_TRUE(PostMessageA(probe, FirstMessageProbe::kMessage, 0, 0));  // first in the queue

    user().at(0, [&] { exitProgram(); });
    EXPECT_EQ(runProgram(), 0);

    ASSERT_TRUE(FirstMessageProbe::seen);
    ASSERT_EQ(FirstMessageProbe::writesSeen.size(), 2u);
    for (const plat::PortWrite &w : FirstMessageProbe::writesSeen) {
        EXPECT_EQ(w.address, 0x378);
        EXPECT_EQ(w.value, 0x00);
        EXPECT_EQ(w.time, 0);
    }
}

// Right after start-up, in every place the run state shows.
class StartupStateTest : public AppTest, public ::testing::WithParamInterface<Camera> {};

TEST_P(StartupStateTest, ShowsTheIdleStateBeforeAnyCommand) {
    installCamera(GetParam());
    user().at(0, [&] {
        const ExpectedMenuItem idle[] = {{IDM_RECORD, kItemButton},
                                         {IDM_STOP, kItemGrayed | kItemButton},
                                         {IDM_PAUSE, kItemButton},
                                         {IDM_SETUP},
                                         {IDM_AUTOINCREMENT}};
        EXPECT_TRUE(commandStatesMatch("idle", idle, mainWindow(), toolbar()));
        EXPECT_FALSE(buttonState(IDM_PAUSE) & TBSTATE_PRESSED);
        EXPECT_EQ(plat::session().component<plat::ParallelPort>().data(), 0x00);
        EXPECT_EQ(windowText(mainWindow()), "Noctil");
        EXPECT_EQ(windowText(snapshotWindow()), "NoctilSnapshot");
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cameras, StartupStateTest, ::testing::Values(Camera::None, Camera::Simulated),
                         [](const auto &info) { return std::string(cameraName(info.param)); });

TEST_F(StartupTest, ToolbarHoldsFourButtonsWithTheirTooltips) {
    installCamera(Camera::None);
    user().at(0, [&] {
        const std::vector<plat::user::ToolbarButtonView> buttons = plat::user::toolbarButtons(toolbar());
        const int commands[] = {IDM_RECORD, IDM_STOP, IDM_PAUSE, IDM_SETUP};
        const char *tips[] = {"Record", "Stop", "Pause", "Setup"};
        ASSERT_EQ(buttons.size(), 4u);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(buttons[i].command, commands[i]);
            EXPECT_EQ(buttons[i].image, i);
            EXPECT_EQ(buttons[i].style, TBSTYLE_BUTTON);
            EXPECT_EQ(plat::user::toolbarTooltip(toolbar(), commands[i]).value_or("(none)"), tips[i]);
        }
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

TEST_F(StartupTest, MinimizedStartMinimizesBothWindows) {
    installCamera(Camera::None);
    user().at(0, [&] {
        EXPECT_TRUE(IsIconic(mainWindow()));
        EXPECT_TRUE(IsIconic(snapshotWindow()));
        PostMessageA(mainWindow(), WM_COMMAND, IDM_EXIT, 0);  // a minimized menu takes no clicks
    });
    EXPECT_EQ(runProgram(SW_SHOWMINIMIZED), 0);
}

TEST_F(StartupTest, DeletesTheTemporaryFilesOfAnEarlierRun) {
    installCamera(Camera::None);
    for (const char *name : {"C:\\_NOCTIL1.AVI", "C:\\_NOCTIL2.AVI"}) std::ofstream(plat::nativePath(name)) << "old";
    user().at(0, [&] {
        EXPECT_FALSE(std::filesystem::exists(plat::nativePath("C:\\_NOCTIL1.AVI")));
        EXPECT_FALSE(std::filesystem::exists(plat::nativePath("C:\\_NOCTIL2.AVI")));
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

// Every normal way out, even in the middle of a run, returns 0; the main
// window's end also puts the camera at rest.
struct ExitWay {
    const char *name;
    void (*act)(AppTest &);
    bool restsPort;
};

void PrintTo(const ExitWay &way, std::ostream *os) { *os << way.name; }

class ExitTest : public AppTest, public ::testing::WithParamInterface<ExitWay> {};

const ExitWay kExitWays[] = {
    {"FileExit", [](AppTest &t) { t.exitProgram(); }, true},
    {"CloseBox", [](AppTest &t) { EXPECT_TRUE(t.user().closeBox(AppTest::mainWindow())); }, true},
    // The snapshot window has no close box; only another program can end it,
    // and its end only ends the loop.
    {"SnapshotDestroyed", [](AppTest &) { DestroyWindow(AppTest::snapshotWindow()); }, false},
};

TEST_P(ExitTest, ReturnsZeroAndSavesTheSettings) {
    installCamera(Camera::None);
    user().at(1000, [&] { choose(IDM_RECORD); });  // a run is on when the program ends
    user().at(1500, [&] { GetParam().act(*this); });
    EXPECT_EQ(runProgram(), 0);
    EXPECT_TRUE(settingsFileBytes().has_value());
    if (GetParam().restsPort) {
        EXPECT_EQ(plat::session().component<plat::ParallelPort>().data(), 0x00);
    }
}

INSTANTIATE_TEST_SUITE_P(Ways, ExitTest, ::testing::ValuesIn(kExitWays),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
