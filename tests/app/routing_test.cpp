// The main window's routing: named commands by the low word (with or
// without the accelerator flag), driver entries by the whole wParam, and
// everything else to the default procedure.
#include <commctrl.h>

#include <fstream>
#include <memory>

#include "app_test.h"
#include "menu_states.h"
#include "test_drivers.h"
#include "dialog_user.h"
#include "files/paths.h"
#include "port_timeline.h"

namespace noctil::test {
namespace {

void post(WPARAM wParam) { PostMessageA(AppTest::mainWindow(), WM_COMMAND, wParam, 0); }

// A named command and how its effect shows, a little after it was posted.
struct NamedCommand {
    const char *name;
    UINT id;
    void (*before)();          // puts the program where the command shows its effect
    void (*check)(AppTest &);  // called 100 ms after the command was posted
};

void closeDialogWithEscape(const char *title) {
    EXPECT_NE(findDialog(title), nullptr) << title;
    pressEscape();
}

const NamedCommand kNamedCommands[] = {
    {"Record", IDM_RECORD, [] {},
     [](AppTest &) {
         EXPECT_EQ(plat::session().component<plat::ParallelPort>().data(), 0x0B);
         EXPECT_TRUE(AppTest::menuEnabled(IDM_STOP));
     }},
    {"Stop", IDM_STOP, [] { post(IDM_RECORD); },
     [](AppTest &) {
         EXPECT_EQ(plat::session().component<plat::ParallelPort>().data(), 0x00);
         EXPECT_TRUE(AppTest::menuEnabled(IDM_RECORD));
     }},
    {"Pause", IDM_PAUSE, [] {}, [](AppTest &) { EXPECT_TRUE(AppTest::menuChecked(IDM_PAUSE)); }},
    {"AutoIncrement", IDM_AUTOINCREMENT, [] {},
     [](AppTest &) { EXPECT_TRUE(AppTest::menuChecked(IDM_AUTOINCREMENT)); }},
    {"About", IDM_ABOUT, [] {}, [](AppTest &) { closeDialogWithEscape("About"); }},
    {"Setup", IDM_SETUP, [] {}, [](AppTest &) { closeDialogWithEscape("Setup Capture"); }},
    {"SaveImagesIn", IDM_SAVEIMAGESIN, [] {}, [](AppTest &) { closeDialogWithEscape("Save images in..."); }},
    {"Exit", IDM_EXIT, [] {}, [](AppTest &) { EXPECT_EQ(AppTest::mainWindow(), nullptr); }},
};

void PrintTo(const NamedCommand &c, std::ostream *os) { *os << c.name; }

class NamedCommandTest : public AppTest, public ::testing::WithParamInterface<std::tuple<NamedCommand, int>> {};

TEST_P(NamedCommandTest, IsRecognisedOnTheLowWord) {
    installCamera(Camera::Simulated);
    const auto &[command, highWord] = GetParam();
    user().at(100, [&] { command.before(); });
    user().at(200, [&] { post(MAKEWPARAM(command.id, highWord)); });
    user().at(300, [&] {
        command.check(*this);
        if (mainWindow()) user().after(100, [&] { exitProgram(); });
    });
    EXPECT_EQ(runProgram(), 0);
}

INSTANTIATE_TEST_SUITE_P(Commands, NamedCommandTest,
                         ::testing::Combine(::testing::ValuesIn(kNamedCommands), ::testing::Values(0, 1)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_Accelerated" : "_Plain");
                         });

// Ten test drivers installed at indexes 0-9, each with its own log.
class DriverRoutingTest : public AppTest {
protected:
    std::shared_ptr<plat::avicap::TestDriverLog> logs[10];

    void installTenDrivers() {
        std::ofstream ini(plat::windowsDirectory() / "system.ini", std::ios::binary);
        ini << "[drivers32]\r\n";
        for (int i = 0; i < 10; i++) {
            plat::avicap::TestDriverPlan plan;
            plan.description = "Test driver " + std::to_string(i);
            logs[i] = plan.log;
            const std::string name = "routedrv" + std::to_string(i);
            plat::avicap::registerTestDriver(name, plan);
            ini << (i == 0 ? std::string("msvideo") : "msvideo" + std::to_string(i)) << "=" << name << "\r\n";
        }
    }
    std::vector<int> opens() const {
        std::vector<int> counts;
        for (const auto &log : logs) counts.push_back(log->opens);
        return counts;
    }
};

// Driver entries switch drivers; the connected one, an entry with the
// accelerator flag, and ids 32786-32789 do nothing.
TEST_F(DriverRoutingTest, OnlyPlainDriverEntriesSwitch) {
    installTenDrivers();
    writeSettingsFile("[Driver]\r\nName=Test driver 2\r\n");
    struct Step {
        WPARAM wParam;
        int switchesTo;  // driver index that opens, -1 for none
    };
    const Step steps[] = {
        {32773, -1},                 // driver 2, already connected
        {MAKEWPARAM(32772, 1), -1},  // driver 1 with the accelerator flag
        {32786, -1},
        {32787, -1},
        {32788, -1},
        {32789, -1},
        {32790 + 0x10000, -1},  // Pause's neighbour range start, flagged: Pause, not a driver
        {32772, 1},             // driver 1
        {32793, 6},             // driver 6 (second block: 32791 + 6 - 4)
        {32796, 9},             // driver 9
        {32771, 0},             // driver 0
    };
    std::vector<int> before;
    for (std::size_t i = 0; i < std::size(steps); i++) {
        user().at(100 + 200 * static_cast<std::uint32_t>(i), [&, i] {
            before = opens();
            post(steps[i].wParam);
        });
        user().at(200 + 200 * static_cast<std::uint32_t>(i), [&, i] {
            std::vector<int> expected = before;
            if (steps[i].switchesTo >= 0) expected[steps[i].switchesTo]++;
            EXPECT_EQ(opens(), expected) << "step " << i << ", wParam 0x" << std::hex << steps[i].wParam;
        });
    }
    user().at(100 + 200 * static_cast<std::uint32_t>(std::size(steps)), [&] { exitProgram(); });
    EXPECT_EQ(runProgram(), 0);
}

// Ids that are no command reach the default procedure: nothing changes.
TEST_F(DriverRoutingTest, UnknownIdsChangeNothing) {
    installTenDrivers();
    std::size_t writes = 0;
    std::vector<int> before;
    user().at(100, [&] {
        writes = cameraPortWrites().size();
        before = opens();
        for (WPARAM id : {32786, 32787, 32788, 32789, 32770, 32797, 106, 0}) post(id);
    });
    user().at(200, [&] {
        EXPECT_EQ(cameraPortWrites().size(), writes);
        EXPECT_EQ(opens(), before);
        EXPECT_EQ(topDialog(), nullptr);
        const ExpectedMenuItem unchanged[] = {{IDM_PAUSE}, {IDM_AUTOINCREMENT}, {IDM_RECORD}};
        EXPECT_TRUE(commandStatesMatch("after the unknown commands", unchanged, mainWindow()));
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

}  // namespace
}  // namespace noctil::test
