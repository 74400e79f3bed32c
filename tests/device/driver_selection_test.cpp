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
#include "menu_states.h"
#include "readout_test_support.h"
#include "resources/resources.h"

namespace {

using plat::avicap::TestDriverPlan;

LRESULT CALLBACK TestMainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

using noctil::test::ExpectedMenuItem;
using noctil::test::kItemChecked;
using noctil::test::kItemGrayed;
using noctil::test::kItemText;

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
            logs[index] = plan.log;
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

    // The entries appended after the Options menu's fixed items, compared
    // with a table of them.
    ::testing::AssertionResult DriverEntriesAre(std::span<const ExpectedMenuItem> expected) const
    {
        return noctil::test::menuStatesMatch("driver entries", expected,
                                             noctil::test::menuItemsAfterLastSeparator(Options()));
    }
    // The given commands of the main window's menu.
    ::testing::AssertionResult MenuShows(std::span<const ExpectedMenuItem> expected) const
    {
        return noctil::test::commandStatesMatch("menu", expected, app.mainWindow);
    }
    // The entries checked now, by driver index.
    std::vector<int> CheckedEntries() const
    {
        std::vector<int> checked;
        for (const noctil::test::RecordedMenuItem &item : noctil::test::menuItemsAfterLastSeparator(Options()))
            if (item.state & MF_CHECKED) checked.push_back(DriverIndexFromCommand(item.command));
        return checked;
    }

    // Indexes whose driver is open now, as the drivers themselves tell.
    std::vector<int> Connected() const
    {
        std::vector<int> open;
        for (const auto &[index, log] : logs)
            if (log->opens > log->closes) open.push_back(index);
        return open;
    }
    // The value of a key of [Driver] in the settings file the program writes.
    static std::string Saved(const std::string &key) { return noctil_test::SavedSetting("Driver", key); }
    // The sequence set the capture window holds for the driver.
    static CAPTUREPARMS SequenceSetup()
    {
        CAPTUREPARMS parms{};
        SendMessageA(app.captureWindow, WM_CAP_GET_SEQUENCE_SETUP, sizeof parms, (LPARAM)&parms);
        return parms;
    }
    // What the capture window reports of the driver's video and views.
    static CAPSTATUS CaptureStatus()
    {
        CAPSTATUS status{};
        SendMessageA(app.captureWindow, WM_CAP_GET_STATUS, sizeof status, (LPARAM)&status);
        return status;
    }

    Drivers() { program.emplace(); }
    // A fresh platform and program state for the next case of a table.
    void Fresh()
    {
        logs.clear();
        program.reset();
        program.emplace();
    }

    std::optional<noctil_test::ProgramSession> program;
    std::map<int, std::shared_ptr<plat::avicap::TestDriverLog>> logs;
};

TEST_F(Drivers, NoneSavedTakesTheFirstDriverThatConnects)
{
    Install({{0, Plan("Alpha", true)}, {1, Plan("Beta")}});
    Start("<none>");
    EXPECT_EQ(Connected(), std::vector<int>{1});
    EXPECT_EQ(Saved("Name"), "Beta");
    const ExpectedMenuItem entries[] = {{32771, kItemText, "&0 Alpha"}, {32772, kItemText | kItemChecked, "&1 Beta"}};
    EXPECT_TRUE(DriverEntriesAre(entries));
}

TEST_F(Drivers, TheSavedNameChoosesItsDriverOnly)
{
    TestDriverPlan a = Plan("Alpha"), b = Plan("Beta"), c = Plan("Gamma");
    Install({{0, a}, {1, b}, {2, c}});
    Start("Gamma");
    EXPECT_EQ(Connected(), std::vector<int>{2});
    EXPECT_EQ(CheckedEntries(), std::vector<int>{2});
    EXPECT_EQ(a.log->opens + b.log->opens, 0) << "drivers of other names are never connected";
    EXPECT_EQ(c.log->opens, 1);
}

TEST_F(Drivers, DriversSharingTheSavedDescriptionConnectInTurn)
{
    TestDriverPlan first = Plan("Same Card"), second = Plan("Same Card");
    Install({{1, first}, {3, second}});
    Start("Same Card");
    EXPECT_EQ(Connected(), std::vector<int>{3});
    EXPECT_EQ(first.log->opens, 1);
    EXPECT_EQ(second.log->opens, 1);
    // Start-up never removes a check mark.
    const ExpectedMenuItem entries[] = {{32772, kItemChecked}, {32774, kItemChecked}};
    EXPECT_TRUE(DriverEntriesAre(entries));
}

TEST_F(Drivers, ADescriptionWithBlanksIsKeptWhole)
{
    Install({{0, Plan("Frame Grabber Model 2 (PAL)")}});
    Start("<none>");
    EXPECT_EQ(Saved("Name"), "Frame Grabber Model 2 (PAL)");
}

TEST_F(Drivers, EmptyIndexesLeaveGapsAndAMissingSavedDriverKeepsItsName)
{
    Install({{0, Plan("Alpha")}, {2, Plan("Gamma")}});
    Start("Gone Card");
    const ExpectedMenuItem entries[] = {{32771}, {32773, kItemText, "&2 Gamma"}};
    EXPECT_TRUE(DriverEntriesAre(entries));
    EXPECT_EQ(Connected(), std::vector<int>{});
    EXPECT_EQ(Saved("Name"), "Gone Card");
}

TEST_F(Drivers, AllTenDriversHaveEntriesOfTheirOwn)
{
    std::map<int, TestDriverPlan> drivers;
    for (int i = 0; i < 10; i++) drivers[i] = Plan("Card " + std::to_string(i));
    Install(drivers);
    Start("Card 8");
    EXPECT_EQ(Connected(), std::vector<int>{8});
    EXPECT_EQ(Saved("Name"), "Card 8");

    const UINT ids[] = {32771, 32772, 32773, 32774, 32791, 32792, 32793, 32794, 32795, 32796};
    auto entriesWithCheck = [&](int checked) {
        static char texts[10][32];
        std::vector<ExpectedMenuItem> entries;
        for (int i = 0; i < 10; i++) {
            std::snprintf(texts[i], sizeof texts[i], "&%d Card %d", i, i);
            entries.push_back({ids[i], kItemText | (i == checked ? kItemChecked : 0u), texts[i]});
        }
        return entries;
    };
    EXPECT_TRUE(DriverEntriesAre(entriesWithCheck(8)));
    const ExpectedMenuItem unchecked[] = {{IDM_VIDEOSOURCE, kItemGrayed}, {IDM_VIDEOFORMAT, kItemGrayed}, {IDM_RECORD}};
    EXPECT_TRUE(MenuShows(unchecked));

    for (int target : {4, 9, 5, 0}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(target)), 0);
        EXPECT_EQ(Connected(), std::vector<int>{target});
        EXPECT_EQ(Saved("Name"), "Card " + std::to_string(target));
        EXPECT_TRUE(DriverEntriesAre(entriesWithCheck(target)));
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
    ASSERT_EQ(Connected(), std::vector<int>{0});
    int opens = alpha.log->opens;

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(0)), 0) << "the connected entry does nothing";
    EXPECT_EQ(alpha.log->opens, opens);

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(1)), 0) << "a failed choice falls back silently";
    EXPECT_EQ(Connected(), std::vector<int>{0});
    EXPECT_EQ(Saved("Name"), "Alpha");
    EXPECT_EQ(alpha.log->opens, opens + 1);
    const ExpectedMenuItem entries[] = {{32771, kItemChecked}, {32772}};
    EXPECT_TRUE(DriverEntriesAre(entries));
    EXPECT_EQ(SequenceSetup().dwRequestMicroSecPerFrame, 33000u) << "the readout set is back";
    EXPECT_TRUE(noctil::test::messageBoxTexts().empty());
}

TEST_F(Drivers, WhenNeitherDriverConnectsTheFallbackFailureIsReported)
{
    Install({{0, Plan("Alpha")}, {1, Plan("Broken", true)}});
    Start("<none>");
    ASSERT_EQ(Connected(), std::vector<int>{0});
    // The connected driver cannot be opened again from now on.
    TestDriverPlan broken = Plan("Alpha", true);
    broken.log = logs[0];
    plat::avicap::registerTestDriver("testdrv0", broken);
    auto &display = dynamic_cast<plat::HeadlessDisplay &>(plat::session().display());
    display.schedule(plat::session().clock().now(), [] { noctil::test::pressEnter(); });

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(1)), -1);
    ASSERT_EQ(noctil::test::messageBoxLog().size(), 1u);
    const plat::user::MessageBoxRecord &box = noctil::test::messageBoxLog()[0];
    EXPECT_EQ(box.text, "Now can't connect back to previous driver !!");
    EXPECT_EQ(box.caption, "Error");
    EXPECT_EQ(box.type, (UINT)MB_ICONHAND);
    EXPECT_EQ(box.owner, app.mainWindow);
    EXPECT_EQ(Connected(), std::vector<int>{}) << "no driver is connected";
    EXPECT_EQ(Saved("Name"), "Alpha");
    const ExpectedMenuItem entries[] = {{32771}, {32772}};
    EXPECT_TRUE(DriverEntriesAre(entries));
    EXPECT_EQ(SequenceSetup().dwRequestMicroSecPerFrame, 200000u) << "the reset set stays";
    // With no driver connected, the previous driver's entry connects it again.
    plat::avicap::registerTestDriver("testdrv0", Plan("Alpha"));
    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(0)), 0);
    EXPECT_EQ(CheckedEntries(), std::vector<int>{0});
}

// After a failed fall-back no driver is connected, and no entry is shown
// checked, also where start-up checked several of the saved description.
struct FailedFallBackCase {
    const char *name;
    std::map<int, TestDriverPlan> drivers;
    const char *saved;
    int connected;  // the driver connected at start, which cannot be opened again
    int chosen;     // the entry chosen, whose driver fails
};

TEST_F(Drivers, AfterAFailedFallBackNoEntryIsChecked)
{
    const FailedFallBackCase cases[] = {
        {"one driver connected", {{0, Plan("Alpha")}, {1, Plan("Broken", true)}}, "<none>", 0, 1},
        {"two drivers share the saved description",
         {{1, Plan("Same Card")}, {3, Plan("Same Card")}, {4, Plan("Broken", true)}},
         "Same Card",
         3,
         4},
    };
    for (const FailedFallBackCase &c : cases) {
        SCOPED_TRACE(c.name);
        Fresh();
        Install(c.drivers);
        Start(c.saved);
        ASSERT_EQ(Connected(), std::vector<int>{c.connected});
        TestDriverPlan gone = c.drivers.at(c.connected);
        gone.failsToOpen = true;
        gone.log = logs[c.connected];
        plat::avicap::registerTestDriver("testdrv" + std::to_string(c.connected), gone);
        auto &display = dynamic_cast<plat::HeadlessDisplay &>(plat::session().display());
        display.schedule(plat::session().clock().now(), [] { noctil::test::pressEnter(); });

        EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(c.chosen)), -1);
        EXPECT_EQ(noctil::test::messageBoxTexts().size(), 1u);
        EXPECT_EQ(Connected(), std::vector<int>{});
        EXPECT_EQ(CheckedEntries(), std::vector<int>{});
    }
}

TEST_F(Drivers, WithNoDriverConnectedAFailedChoiceChangesNothing)
{
    Install({{0, Plan("Broken", true)}, {1, Plan("Other")}});
    Start("Nothing Here");
    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(0)), 0);
    EXPECT_EQ(Connected(), std::vector<int>{});
    EXPECT_EQ(CheckedEntries(), std::vector<int>{});
    EXPECT_EQ(Saved("Name"), "Nothing Here");
    EXPECT_EQ(SequenceSetup().dwRequestMicroSecPerFrame, 200000u);
    EXPECT_TRUE(noctil::test::messageBoxTexts().empty());

    EXPECT_EQ(SwitchDriver(app.mainWindow, DriverCommandId(1)), 0);
    EXPECT_EQ(Connected(), std::vector<int>{1});
    EXPECT_EQ(Saved("Name"), "Other");
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
    // The readout now takes the new video's 480 lines as fields: the camera
    // is switched to the field readout level.
    std::vector<BYTE> frame(640 * 480 * 3, 0);
    VIDEOHDR header{};
    header.lpData = frame.data();
    header.dwBufferLength = (DWORD)frame.size();
    ReadoutFrameCallback(nullptr, &header);
    EXPECT_EQ(program->portValues(), std::vector<std::uint8_t>{PORT_READOUT_480});
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
        const ExpectedMenuItem items[] = {{IDM_OVERLAY, c.overlay ? 0u : kItemGrayed},
                                          {IDM_VIDEOSOURCE, c.source ? 0u : kItemGrayed},
                                          {IDM_VIDEOFORMAT, c.format ? 0u : kItemGrayed},
                                          {IDM_PREVIEW}};
        EXPECT_TRUE(MenuShows(items));
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
    EXPECT_EQ(Saved("PreviewMode"), std::to_string(VIEW_PREVIEW));
    UpdateViewCheckMarks(menu);
    const ExpectedMenuItem previewing[] = {{IDM_PREVIEW, kItemChecked}, {IDM_OVERLAY}};
    EXPECT_TRUE(MenuShows(previewing));
    EXPECT_TRUE(CaptureStatus().fLiveWindow);

    ToggleOverlay();
    EXPECT_EQ(Saved("PreviewMode"), std::to_string(VIEW_OVERLAY));
    UpdateViewCheckMarks(menu);
    // The check marks follow what the capture window reports of the driver.
    const CAPSTATUS status = CaptureStatus();
    EXPECT_TRUE(status.fOverlayWindow);
    const ExpectedMenuItem overlaid[] = {{IDM_PREVIEW, status.fLiveWindow ? kItemChecked : 0u},
                                         {IDM_OVERLAY, kItemChecked}};
    EXPECT_TRUE(MenuShows(overlaid));

    ToggleOverlay();
    EXPECT_EQ(Saved("PreviewMode"), std::to_string(VIEW_NONE))
        << "overlay off means no view, whatever the preview does";
}

TEST_F(Drivers, PreviewTwiceStopsIt)
{
    Install({{0, Plan("Views")}});
    Start("<none>");
    TogglePreview();
    TogglePreview();
    EXPECT_EQ(Saved("PreviewMode"), std::to_string(VIEW_NONE));
    EXPECT_FALSE(CaptureStatus().fLiveWindow);
    UpdateViewCheckMarks(GetMenu(app.mainWindow));
    const ExpectedMenuItem items[] = {{IDM_PREVIEW}};
    EXPECT_TRUE(MenuShows(items));
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

    // Without a capture window only the copy changes. Nothing shows the
    // copy's frame interval (the capture window is all a driver sees), so
    // this reads the program's copy itself.
    DestroyWindow(app.captureWindow);
    app.captureParms.dwRequestMicroSecPerFrame = 1;
    ResetSequenceSetup();
    EXPECT_EQ(app.captureParms.dwRequestMicroSecPerFrame, 200000u);
}

TEST_F(Drivers, WithoutACaptureDriverVideoDialogsShowNothing)
{
    Install({});
    Start("<none>");
    EXPECT_TRUE(noctil::test::menuItemsAfterLastSeparator(Options()).empty());
    EXPECT_EQ(Saved("Name"), "<none>");
    ShowVideoSourceDialog();
    ShowVideoFormatDialog();
    EXPECT_TRUE(noctil::test::messageBoxTexts().empty());
    EXPECT_EQ(noctil::test::topDialog(), nullptr);
    const ExpectedMenuItem items[] = {{IDM_VIDEOSOURCE}, {IDM_VIDEOFORMAT}};
    EXPECT_TRUE(MenuShows(items));
}

}  // namespace
