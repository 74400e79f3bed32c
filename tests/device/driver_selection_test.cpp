// Listing, connecting and switching capture drivers, and adapting the
// program to the connected one, with the platform's test drivers installed
// in the machine's driver list and the program's own menu.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "test_drivers.h"
#include "dialog_user.h"
#include "driver_ids.h"
#include "files/paths.h"
#include "readout_test_support.h"
#include "resources/resources.h"

namespace {

using plat::avicap::TestDriverPlan;

LRESULT CALLBACK TestMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

struct MenuEntry {
    UINT id;
    std::string text;
    bool checked;
};

class Drivers : public ::testing::Test {
protected:
    // Installs test drivers at the given indexes (the rest stay empty).
    void Install(const std::map<int, TestDriverPlan> &drivers)
    {
        std::ofstream ini(plat::windowsDirectory() / "system.ini");
        ini << "[drivers32]\n";
        if (drivers.empty()) ini << "msvideo=\n";  // an empty list, not the default camera
        for (const auto &[index, plan] : drivers) {
            std::string name = "testdrv" + std::to_string(index);
            plat::avicap::registerTestDriver(name, plan);
            ini << (index ? "msvideo" + std::to_string(index) : std::string("msvideo")) << "=" << name << "\n";
        }
    }

    static TestDriverPlan Plan(const std::string &description, bool fails = false)
    {
        TestDriverPlan plan;
        plan.description = description;
        plan.failsToOpen = fails;
        return plan;
    }

    // The main window with the program's menu, then the start-up connection.
    void Start(const char *savedName)
    {
        snprintf(app.settings.driverName, sizeof app.settings.driverName, "%s", savedName);
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = TestMainProc;
        wc.hInstance = plat::res::moduleInstance();
        wc.lpszMenuName = MAKEINTRESOURCEA(IDC_MAINMENU);
        wc.lpszClassName = "NoctilTestMain";
        RegisterClassExA(&wc);
        app.mainWindow = CreateWindowExA(0, "NoctilTestMain", "Noctil", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                         nullptr, wc.hInstance, nullptr);
        ConnectSavedDriver(app.mainWindow);
    }

    HMENU Options() const { return GetSubMenu(GetMenu(app.mainWindow), 1); }

    // The entries appended after the Options menu's fixed items.
    std::vector<MenuEntry> DriverEntries() const
    {
        std::vector<MenuEntry> entries;
        HMENU menu = Options();
        for (int i = 0; i < GetMenuItemCount(menu); i++) {
            UINT id = GetMenuItemID(menu, i);
            if (DriverIndexFromCommand(id) < 0) continue;
            char text[100] = "";
            GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
            entries.push_back({id, text, (GetMenuState(menu, i, MF_BYPOSITION) & MF_CHECKED) != 0});
        }
        return entries;
    }

    bool Checked(UINT id) const { return (GetMenuState(GetMenu(app.mainWindow), id, MF_BYCOMMAND) & MF_CHECKED) != 0; }
    bool Grayed(UINT id) const { return (GetMenuState(GetMenu(app.mainWindow), id, MF_BYCOMMAND) & MF_GRAYED) != 0; }

    Drivers() { program.emplace(); }
    // A fresh platform and program state for the next case of a table.
    void Fresh()
    {
        program.reset();
        program.emplace();
    }

    std::optional<noctil_test::ProgramSession> program;
};

TEST_F(Drivers, NoneSavedTakesTheFirstDriverThatConnects)
{
    Install({{0, Plan("Alpha", true)}, {1, Plan("Beta")}});
    Start("<none>");
    EXPECT_EQ(app.driverIndex, 1);
    EXPECT_STREQ(app.settings.driverName, "Beta");
    std::vector<MenuEntry> entries = DriverEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].text, "&0 Alpha");
    EXPECT_FALSE(entries[0].checked);
    EXPECT_EQ(entries[1].text, "&1 Beta");
    EXPECT_TRUE(entries[1].checked);
}

TEST_F(Drivers, TheSavedNameChoosesItsDriverOnly)
{
    TestDriverPlan a = Plan("Alpha"), b = Plan("Beta"), c = Plan("Gamma");
    Install({{0, a}, {1, b}, {2, c}});
    Start("Gamma");
    EXPECT_EQ(app.driverIndex, 2);
    EXPECT_EQ(a.log->opens + b.log->opens, 0) << "drivers of other names are never connected";
    EXPECT_EQ(c.log->opens, 1);
}

TEST_F(Drivers, DriversSharingTheSavedDescriptionConnectInTurn)
{
    TestDriverPlan first = Plan("Same Card"), second = Plan("Same Card");
    Install({{1, first}, {3, second}});
    Start("Same Card");
    EXPECT_EQ(app.driverIndex, 3);
    EXPECT_EQ(first.log->opens, 1);
    EXPECT_EQ(second.log->opens, 1);
    std::vector<MenuEntry> entries = DriverEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[0].checked && entries[1].checked) << "start-up never removes a check mark";
}

TEST_F(Drivers, ADescriptionWithBlanksIsKeptWhole)
{
    Install({{0, Plan("Frame Grabber Model 2 (PAL)")}});
    Start("<none>");
    EXPECT_STREQ(app.settings.driverName, "Frame Grabber Model 2 (PAL)");
}

TEST_F(Drivers, EmptyIndexesLeaveGapsAndAMissingSavedDriverKeepsItsName)
{
    Install({{0, Plan("Alpha")}, {2, Plan("Gamma")}});
    Start("Gone Card");
    std::vector<MenuEntry> entries = DriverEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].id, 32771u);
    EXPECT_EQ(entries[1].id, 32773u);
    EXPECT_EQ(entries[1].text, "&2 Gamma");
    EXPECT_EQ(app.driverIndex, -1);
    EXPECT_STREQ(app.settings.driverName, "Gone Card");
    EXPECT_FALSE(entries[0].checked || entries[1].checked);
}

TEST_F(Drivers, AllTenDriversHaveEntriesOfTheirOwn)
{
    std::map<int, TestDriverPlan> drivers;
    for (int i = 0; i < 10; i++) drivers[i] = Plan("Card " + std::to_string(i));
    Install(drivers);
    Start("Card 8");
    EXPECT_EQ(app.driverIndex, 8);
    EXPECT_STREQ(app.settings.driverName, "Card 8");

    const UINT ids[] = {32771, 32772, 32773, 32774, 32791, 32792, 32793, 32794, 32795, 32796};
    std::vector<MenuEntry> entries = DriverEntries();
    ASSERT_EQ(entries.size(), 10u);
    for (int i = 0; i < 10; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i].id, ids[i]);
        char text[32];
        std::snprintf(text, sizeof text, "&%d Card %d", i, i);
        EXPECT_EQ(entries[i].text, text);
        EXPECT_EQ(entries[i].checked, i == 8);
    }
    EXPECT_FALSE(Checked(IDM_VIDEOSOURCE) || Checked(IDM_VIDEOFORMAT) || Checked(IDM_RECORD));

    for (int target : {4, 9, 5, 0}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(target)), 0);
        EXPECT_EQ(app.driverIndex, target);
        EXPECT_EQ(app.settings.driverName, "Card " + std::to_string(target));
        for (const MenuEntry &entry : DriverEntries())
            EXPECT_EQ(entry.checked, entry.id == DriverCommandId(target)) << entry.text;
    }
}

TEST_F(Drivers, DriverCommandIdsRoundTrip)
{
    for (int index = -1; index <= 10; index++) {
        SCOPED_TRACE(index);
        UINT id = DriverCommandId(index);
        bool valid = index >= 0 && index < 10;
        EXPECT_EQ(DriverIndexFromCommand(id), valid ? index : -1);
        for (UINT fixed : {IDM_PREVIEW, IDM_RECORD, IDM_VIDEOSOURCE, IDM_VIDEOFORMAT, IDM_SAVEIMAGESIN, IDM_STOP,
                           IDM_AUTOINCREMENT, IDM_SETUP, IDM_OVERLAY, IDM_PAUSE})
            EXPECT_NE(id, fixed);
    }
}

TEST_F(Drivers, SwitchingKeepsOrRestoresAConnection)
{
    TestDriverPlan alpha = Plan("Alpha");
    Install({{0, alpha}, {1, Plan("Broken", true)}});
    Start("<none>");
    ASSERT_EQ(app.driverIndex, 0);
    int opens = alpha.log->opens;

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(0)), 0) << "the connected entry does nothing";
    EXPECT_EQ(alpha.log->opens, opens);

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(1)), 0) << "a failed choice falls back silently";
    EXPECT_EQ(app.driverIndex, 0);
    EXPECT_STREQ(app.settings.driverName, "Alpha");
    EXPECT_EQ(alpha.log->opens, opens + 1);
    std::vector<MenuEntry> entries = DriverEntries();
    EXPECT_TRUE(entries[0].checked);
    EXPECT_FALSE(entries[1].checked);
    EXPECT_EQ(app.captureParms.dwRequestMicroSecPerFrame, 33000u) << "the readout set is back";
}

TEST_F(Drivers, WhenNeitherDriverConnectsTheFallbackFailureIsReported)
{
    Install({{0, Plan("Alpha")}, {1, Plan("Broken", true)}});
    Start("<none>");
    ASSERT_EQ(app.driverIndex, 0);
    // The connected driver cannot be opened again from now on.
    plat::avicap::registerTestDriver("testdrv0", Plan("Alpha", true));
    auto &display = dynamic_cast<plat::HeadlessDisplay &>(plat::session().display());
    display.schedule(plat::session().clock().now(), [] { noctil::test::pressEnter(); });

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(1)), -1);
    ASSERT_EQ(noctil::test::messageBoxLog().size(), 1u);
    const plat::user::MessageBoxRecord &box = noctil::test::messageBoxLog()[0];
    EXPECT_EQ(box.text, "Now can't connect back to previous driver !!");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.type, (UINT)MB_ICONHAND);
    EXPECT_EQ(box.owner, app.mainWindow);
    EXPECT_EQ(app.driverIndex, -1) << "no driver is connected";
    EXPECT_STREQ(app.settings.driverName, "Alpha");
    for (const MenuEntry &entry : DriverEntries()) EXPECT_FALSE(entry.checked) << entry.text;
    EXPECT_EQ(app.captureParms.dwRequestMicroSecPerFrame, 200000u) << "the reset set stays";
}

TEST_F(Drivers, WithNoDriverConnectedAFailedChoiceChangesNothing)
{
    Install({{0, Plan("Broken", true)}, {1, Plan("Other")}});
    Start("Nothing Here");
    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(0)), 0);
    EXPECT_EQ(app.driverIndex, -1);
    EXPECT_STREQ(app.settings.driverName, "Nothing Here");
    EXPECT_EQ(app.captureParms.dwRequestMicroSecPerFrame, 200000u);

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(1)), 0);
    EXPECT_EQ(app.driverIndex, 1);
    EXPECT_STREQ(app.settings.driverName, "Other");
}

// ---- Configuration, geometry and views -------------------------------------------

RECT OuterRect(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

RECT ChildRect(HWND window)
{
    const plat::user::Window *w = plat::user::find(window);
    return w ? w->rect : RECT{};
}

TEST_F(Drivers, WindowsAreSizedToTheVideo)
{
    struct Case {
        int width, height, mainWidth, mainHeight;
    } cases[] = {{640, 480, 660, 570}, {320, 240, 340, 330}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        Fresh();
        TestDriverPlan plan = Plan("Sized");
        plan.formats = {plat::avicap::makeFormat(c.width, c.height, 24, BI_RGB)};
        Install({{0, plan}});
        Start("<none>");
        RECT capture = ChildRect(app.captureWindow), main = OuterRect(app.mainWindow);
        EXPECT_EQ(capture.left, 5);
        EXPECT_EQ(capture.top, 30);
        EXPECT_EQ(capture.right - capture.left, c.width);
        EXPECT_EQ(capture.bottom - capture.top, c.height);
        EXPECT_EQ(main.right - main.left, c.mainWidth);
        EXPECT_EQ(main.bottom - main.top, c.mainHeight);
    }
}

TEST_F(Drivers, AFormatChangeResizesOnlyTheCaptureWindow)
{
    TestDriverPlan plan = Plan("Two Formats");
    plan.caps.formatDialog = true;
    plan.formats = {plat::avicap::makeFormat(320, 240, 24, BI_RGB), plat::avicap::makeFormat(640, 480, 24, BI_RGB)};
    plan.formatDialogPicks = 1;
    Install({{0, plan}});
    Start("<none>");
    ShowVideoFormatDialog();
    RECT capture = ChildRect(app.captureWindow), main = OuterRect(app.mainWindow);
    EXPECT_EQ(capture.left, 5);
    EXPECT_EQ(capture.top, 30);
    EXPECT_EQ(capture.right - capture.left, 640);
    EXPECT_EQ(capture.bottom - capture.top, 480);
    EXPECT_EQ(main.right - main.left, 340);
    EXPECT_EQ(main.bottom - main.top, 330);
    EXPECT_EQ(app.captureStatus.uiImageHeight, 480u);
}

TEST_F(Drivers, MenuItemsFollowTheDriversCapabilities)
{
    struct Case {
        bool overlay, source, format;
    } cases[] = {{false, false, false}, {true, true, true}, {true, false, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.overlay << c.source << c.format);
        Fresh();
        TestDriverPlan plan = Plan("Caps");
        plan.caps = {c.overlay, c.source, c.format};
        Install({{0, plan}});
        Start("<none>");
        EXPECT_EQ(Grayed(IDM_OVERLAY), !c.overlay);
        EXPECT_EQ(Grayed(IDM_VIDEOSOURCE), !c.source);
        EXPECT_EQ(Grayed(IDM_VIDEOFORMAT), !c.format);
        EXPECT_FALSE(Grayed(IDM_PREVIEW));
    }
}

TEST_F(Drivers, PreviewAndOverlayRecordWhatTheDriverDoes)
{
    TestDriverPlan plan = Plan("Views");
    plan.caps.overlay = true;
    Install({{0, plan}});
    Start("<none>");
    HMENU menu = GetMenu(app.mainWindow);

    TogglePreview();
    EXPECT_EQ(app.settings.previewMode, VIEW_PREVIEW);
    UpdateViewCheckMarks(menu);
    EXPECT_TRUE(Checked(IDM_PREVIEW));

    ToggleOverlay();
    EXPECT_EQ(app.settings.previewMode, VIEW_OVERLAY);
    UpdateViewCheckMarks(menu);
    EXPECT_EQ(Checked(IDM_OVERLAY), app.captureStatus.fOverlayWindow != 0);
    EXPECT_EQ(Checked(IDM_PREVIEW), app.captureStatus.fLiveWindow != 0);

    ToggleOverlay();
    EXPECT_EQ(app.settings.previewMode, VIEW_NONE) << "overlay off means no view, whatever the preview does";
}

TEST_F(Drivers, PreviewTwiceStopsIt)
{
    Install({{0, Plan("Views")}});
    Start("<none>");
    TogglePreview();
    TogglePreview();
    EXPECT_EQ(app.settings.previewMode, VIEW_NONE);
    UpdateViewCheckMarks(GetMenu(app.mainWindow));
    EXPECT_FALSE(Checked(IDM_PREVIEW));
}

TEST_F(Drivers, SequenceParametersAreSetForTheReadoutAndReset)
{
    Install({{0, Plan("Sequence")}});
    Start("<none>");
    CAPTUREPARMS driver{};
    SendMessageA(app.captureWindow, WM_CAP_GET_SEQUENCE_SETUP, sizeof driver, (LPARAM)&driver);
    EXPECT_EQ(driver.dwRequestMicroSecPerFrame, 33000u);
    EXPECT_FALSE(driver.fCaptureAudio);
    EXPECT_TRUE(driver.fLimitEnabled);
    EXPECT_EQ(driver.wTimeLimit, 2u);

    ResetSequenceSetup();
    SendMessageA(app.captureWindow, WM_CAP_GET_SEQUENCE_SETUP, sizeof driver, (LPARAM)&driver);
    EXPECT_EQ(driver.dwRequestMicroSecPerFrame, 200000u);
    EXPECT_TRUE(driver.fCaptureAudio);
    EXPECT_FALSE(driver.fLimitEnabled);
    EXPECT_EQ(driver.wTimeLimit, 2u) << "the time limit stays while the limit is off";

    // Without a capture window only the copy changes.
    DestroyWindow(app.captureWindow);
    app.captureParms.dwRequestMicroSecPerFrame = 1;
    ResetSequenceSetup();
    EXPECT_EQ(app.captureParms.dwRequestMicroSecPerFrame, 200000u);
}

TEST_F(Drivers, WithoutACaptureDriverVideoDialogsShowNothing)
{
    Install({});
    Start("<none>");
    EXPECT_EQ(app.driverIndex, -1);
    EXPECT_TRUE(DriverEntries().empty());
    ShowVideoSourceDialog();
    ShowVideoFormatDialog();
    EXPECT_FALSE(Grayed(IDM_VIDEOSOURCE));
    EXPECT_FALSE(Grayed(IDM_VIDEOFORMAT));
}

}  // namespace
