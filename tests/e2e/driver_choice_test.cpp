// Capture drivers through the real program: the machine's driver list in
// system.ini, the saved choice in Noctil.ini, the Options menu clicked by a
// person, what connects, what the menu checks and what is saved at the end;
// and the sequence parameters the capture window holds as the program ends.
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app_state.h"
#include "test_drivers.h"
#include "dialog_user.h"
#include "e2e_fixture.h"
#include "files/paths.h"
#include "menu_states.h"
#include "user/window_system.h"

namespace noctil::e2e {
namespace {

using plat::avicap::TestDriverPlan;

TestDriverPlan plan(const std::string &description, bool failsToOpen = false) {
    TestDriverPlan s;
    s.description = description;
    s.failsToOpen = failsToOpen;
    return s;
}

using noctil::test::ExpectedMenuItem;
using noctil::test::kItemChecked;
using noctil::test::kItemGrayed;
using noctil::test::kItemText;
using Entries = std::vector<ExpectedMenuItem>;

class DriverChoiceTest : public EndToEndTest {
protected:
    // Installs test drivers at the given indexes; the rest stay empty.
    void install(const std::map<int, TestDriverPlan> &drivers) {
        std::ofstream ini(plat::windowsDirectory() / "system.ini", std::ios::binary);
        ini << "[drivers32]\r\n";
        for (const auto &[index, s] : drivers) {
            plat::avicap::registerTestDriver(driverName(index), s);
            logs[index] = s.log;
            ini << (index ? "msvideo" + std::to_string(index) : std::string("msvideo")) << "=" << driverName(index)
                << "\r\n";
        }
    }
    static std::string driverName(int index) { return "e2edrv" + std::to_string(index); }

    // Indexes whose driver is open now.
    std::vector<int> connected() const {
        std::vector<int> open;
        for (const auto &[index, log] : logs)
            if (log->opens > log->closes) open.push_back(index);
        return open;
    }
    // The driver entries of the Options menu (after its last separator), in
    // menu order, compared with a table of them.
    static ::testing::AssertionResult entriesAre(const char *context, std::span<const ExpectedMenuItem> expected) {
        return noctil::test::menuStatesMatch(
            context, expected, noctil::test::menuItemsAfterLastSeparator(GetSubMenu(GetMenu(mainWindow()), 1)));
    }
    std::string savedName() const {
        for (const noctil::test::IniEntry &e : settingsEntries())
            if (e.section == "Driver" && e.key == "Name") return e.value;
        return "(none saved)";
    }

    std::map<int, std::shared_ptr<plat::avicap::TestDriverLog>> logs;
};

// ---- Start-up: which driver the saved name connects ------------------------------

struct StartCase {
    const char *name;
    std::map<int, TestDriverPlan> drivers;
    const char *saved;
    std::vector<int> connected;  // open after start-up
    std::map<int, int> opens;    // successful opens per index
    Entries entries;             // the Options menu's driver entries
    const char *savedAfterExit;
};
void PrintTo(const StartCase &c, std::ostream *os) { *os << c.name; }

class StartUpTest : public DriverChoiceTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartUpTest, SavedNameChoosesTheDriver) {
    const StartCase &c = GetParam();
    install(c.drivers);
    writeSettingsFile(std::string("[Driver]\r\nName=") + c.saved + "\r\n");
    user().at(100, [&] {
        EXPECT_EQ(connected(), c.connected);
        EXPECT_TRUE(entriesAre("after start-up", c.entries));
        exitProgram();
    });
    ASSERT_EQ(runProgram(), 0);
    for (const auto &[index, log] : logs) {
        const int expected = c.opens.count(index) ? c.opens.at(index) : 0;
        EXPECT_EQ(log->opens, expected) << "driver " << index;
    }
    EXPECT_EQ(savedName(), c.savedAfterExit);
}

const StartCase kStartCases[] = {
    {"NoneTakesTheFirstThatConnects",
     {{0, plan("Alpha", true)}, {1, plan("Beta")}},
     "<none>",
     {1},
     {{1, 1}},
     {{32771, kItemText, "&0 Alpha"}, {32772, kItemText | kItemChecked, "&1 Beta"}},
     "Beta"},
    {"SavedNameMatchesOnlyIndexTwo",
     {{0, plan("Alpha")}, {1, plan("Beta")}, {2, plan("Gamma")}},
     "Gamma",
     {2},
     {{2, 1}},
     {{32771, kItemText, "&0 Alpha"}, {32772, kItemText, "&1 Beta"}, {32773, kItemText | kItemChecked, "&2 Gamma"}},
     "Gamma"},
    {"SameDescriptionConnectsBothInTurn",
     {{0, plan("Other")}, {1, plan("Same Card")}, {3, plan("Same Card")}},
     "Same Card",
     {3},
     {{1, 1}, {3, 1}},
     {{32771, kItemText, "&0 Other"},
      {32772, kItemText | kItemChecked, "&1 Same Card"},
      {32774, kItemText | kItemChecked, "&3 Same Card"}},
     "Same Card"},
    {"TwoWordDescriptionKeptWhole",
     {{0, plan("Night Camera")}},
     "<none>",
     {0},
     {{0, 1}},
     {{32771, kItemText | kItemChecked, "&0 Night Camera"}},
     "Night Camera"},
    {"MissingSavedDriverKeepsItsName",
     {{0, plan("Alpha")}, {2, plan("Gamma")}},
     "Gone Card",
     {},
     {},
     {{32771, kItemText, "&0 Alpha"}, {32773, kItemText, "&2 Gamma"}},
     "Gone Card"},
};
INSTANTIATE_TEST_SUITE_P(Drivers, StartUpTest, ::testing::ValuesIn(kStartCases),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Switching: a click on a driver entry ------------------------------------------

// Alpha at 0 is connected at start; Beta at 1 is chosen.
struct SwitchCase {
    const char *name;
    bool betaFails;
    bool alphaFailsFromNow;  // Alpha cannot be opened again once started
    UINT clicked;
    std::vector<int> connected;
    Entries entries;  // entries 0 and 1
    std::vector<std::string> messages;
    const char *savedAfterExit;
};
void PrintTo(const SwitchCase &c, std::ostream *os) { *os << c.name; }

class SwitchTest : public DriverChoiceTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(SwitchTest, ClickingAnEntry) {
    const SwitchCase &c = GetParam();
    install({{0, plan("Alpha")}, {1, plan("Beta", c.betaFails)}});
    std::shared_ptr<plat::avicap::TestDriverLog> alpha = logs[0];
    user().at(100, [&] {
        ASSERT_EQ(connected(), std::vector<int>{0});
        if (c.alphaFailsFromNow) {
            TestDriverPlan broken = plan("Alpha", true);
            broken.log = alpha;
            plat::avicap::registerTestDriver(driverName(0), broken);
        }
        choose(c.clicked);
        user().after(100, [] { noctil::test::pressEnter(); });  // answers a message box, if one came
    });
    user().at(300, [&] {
        EXPECT_EQ(noctil::test::messageBoxTexts(), c.messages);
        for (const plat::user::MessageBoxRecord &box : noctil::test::messageBoxLog())
            EXPECT_EQ(box.owner, mainWindow());
        EXPECT_EQ(connected(), c.connected);
        EXPECT_TRUE(entriesAre("after the click", c.entries));
        exitProgram();
    });
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(savedName(), c.savedAfterExit);
    for (const plat::user::MessageBoxRecord &box : noctil::test::messageBoxLog()) {
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.type, static_cast<UINT>(MB_ICONHAND));
    }
}

const SwitchCase kSwitchCases[] = {
    {"ConnectedEntryDoesNothing", false, false, 32771, {0}, {{32771, kItemChecked}, {32772}}, {}, "Alpha"},
    {"AnotherDriverConnects", false, false, 32772, {1}, {{32771}, {32772, kItemChecked}}, {}, "Beta"},
    {"FailedChoiceFallsBack", true, false, 32772, {0}, {{32771, kItemChecked}, {32772}}, {}, "Alpha"},
    {"FailedFallbackIsReported",
     true,
     true,
     32772,
     {},
     {{32771}, {32772}},
     {"Now can't connect back to previous driver !!"},
     "Alpha"},
};
INSTANTIATE_TEST_SUITE_P(Drivers, SwitchTest, ::testing::ValuesIn(kSwitchCases),
                         [](const auto &info) { return std::string(info.param.name); });

// After a failed fall-back no driver is connected, so the previous driver's
// entry connects it again once it works, and a failing entry fails silently
// (there is nothing to fall back to).
TEST_F(DriverChoiceTest, AfterAFailedFallbackEveryEntryConnectsItsDriver) {
    install({{0, plan("Alpha")}, {1, plan("Beta", true)}});
    std::shared_ptr<plat::avicap::TestDriverLog> alpha = logs[0];
    auto alphaWorks = [&](bool works) {
        TestDriverPlan p = plan("Alpha", !works);
        p.log = alpha;
        plat::avicap::registerTestDriver(driverName(0), p);
    };
    user().at(100, [&] {
        alphaWorks(false);
        choose(32772);
        user().after(100, [] { noctil::test::pressEnter(); });
    });
    user().at(300, [&] {
        ASSERT_EQ(noctil::test::messageBoxTexts().size(), 1u);
        EXPECT_EQ(connected(), std::vector<int>{});
        alphaWorks(true);
        choose(32771);
    });
    user().at(400, [&] {
        EXPECT_EQ(connected(), std::vector<int>{0}) << "the previous driver's entry connects it";
        const ExpectedMenuItem entries[] = {{32771, kItemChecked}, {32772}};
        EXPECT_TRUE(entriesAre("the previous driver connected again", entries));
        EXPECT_EQ(noctil::test::messageBoxTexts().size(), 1u);
        exitProgram();
    });
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(savedName(), "Alpha");
}

// ---- Ten drivers: every entry reachable, connected and saved ---------------------------

class TenDriversTest : public DriverChoiceTest, public ::testing::WithParamInterface<int> {};

// The Options menu's entry texts of test drivers named "Card <i>".
const char *const kCardEntries[10] = {"&0 Card 0", "&1 Card 1", "&2 Card 2", "&3 Card 3", "&4 Card 4",
                                      "&5 Card 5", "&6 Card 6", "&7 Card 7", "&8 Card 8", "&9 Card 9"};

TEST_P(TenDriversTest, EveryEntryConnectsItsDriverAndIsSaved) {
    const int chosen = GetParam();
    std::map<int, TestDriverPlan> drivers;
    for (int i = 0; i < 10; ++i) drivers[i] = plan("Card " + std::to_string(i));
    install(drivers);
    const int start = (chosen + 5) % 10;  // starting in the other block of ids
    writeSettingsFile("[Driver]\r\nName=Card " + std::to_string(start) + "\r\n");
    const UINT ids[10] = {32771, 32772, 32773, 32774, 32791, 32792, 32793, 32794, 32795, 32796};
    user().at(100, [&] {
        EXPECT_EQ(connected(), std::vector<int>{start});
        choose(ids[chosen]);
    });
    user().at(200, [&] {
        EXPECT_EQ(connected(), std::vector<int>{chosen});
        Entries expected;
        for (int i = 0; i < 10; ++i)
            expected.push_back({ids[i], kItemText | (i == chosen ? kItemChecked : 0u), kCardEntries[i]});
        EXPECT_TRUE(entriesAre("after the click", expected));
        // The commands whose ids the old numbering shared stay as they were.
        const ExpectedMenuItem commands[] = {
            {IDM_RECORD}, {IDM_VIDEOSOURCE, kItemGrayed}, {IDM_VIDEOFORMAT, kItemGrayed}};
        EXPECT_TRUE(noctil::test::commandStatesMatch("menu", commands, mainWindow()));
        EXPECT_EQ(openDialogs(), std::vector<HWND>{}) << "no video dialog opened";
        exitProgram();
    });
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(savedName(), "Card " + std::to_string(chosen));
}
INSTANTIATE_TEST_SUITE_P(Drivers, TenDriversTest, ::testing::Range(0, 10));

// ---- The sequence parameters as the program ends ----------------------------------

struct EndCase {
    const char *name;
    bool closeBox;
    DWORD microSecPerFrame;  // what the capture window held as the driver was let go
    BOOL audio, limit;
};
void PrintTo(const EndCase &c, std::ostream *os) { *os << c.name; }

class ProgramEndTest : public EndToEndTest, public ::testing::WithParamInterface<EndCase> {};

// File > Exit resets the capture window's sequence before it goes; the close
// box takes the capture window first, so only the program's copy is reset.
TEST_P(ProgramEndTest, SequenceResetReachesTheCaptureWindowOnlyWhileItExists) {
    const EndCase &c = GetParam();
    installWatchedCamera();
    user().at(100, [&] {
        if (c.closeBox)
            EXPECT_TRUE(user().closeBox(mainWindow()));
        else
            exitProgram();
    });
    ASSERT_EQ(runProgram(), 0);
    EXPECT_EQ(camera->opens, 1);
    EXPECT_EQ(camera->closes, 1);
    ASSERT_TRUE(camera->parmsAtClose.has_value());
    const CAPTUREPARMS &held = *camera->parmsAtClose;
    EXPECT_EQ(held.dwRequestMicroSecPerFrame, c.microSecPerFrame);
    EXPECT_EQ(held.fCaptureAudio, c.audio);
    EXPECT_EQ(held.fLimitEnabled, c.limit);
    EXPECT_EQ(held.wTimeLimit, 2u);
    // The program's own copy is reset either way. Nothing outside the
    // program sees the copy once the capture window is gone, so this reads
    // the copy itself.
    EXPECT_EQ(app.captureParms.dwRequestMicroSecPerFrame, 200000u);
    EXPECT_EQ(app.captureParms.fCaptureAudio, TRUE);
    EXPECT_EQ(app.captureParms.fLimitEnabled, FALSE);
    EXPECT_EQ(app.captureParms.wTimeLimit, 2u);
    EXPECT_EQ(portLevel(), 0x00);
}

const EndCase kEndCases[] = {
    {"FileExit", false, 200000, TRUE, FALSE},
    {"CloseBox", true, 33000, FALSE, TRUE},
};
INSTANTIATE_TEST_SUITE_P(Ends, ProgramEndTest, ::testing::ValuesIn(kEndCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::e2e
