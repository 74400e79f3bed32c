// Record, Stop and Pause as the menu and the toolbar show them.
#include <commctrl.h>

#include "app_test.h"
#include "menu_states.h"
#include "port_timeline.h"
#include "user/dialog_system.h"

namespace noctil::test {
namespace {

using CaptureStateTest = AppTest;

// Record, Stop and Pause in the Capture menu and on the toolbar alike.
constexpr unsigned kGrayedButton = kItemGrayed | kItemButton, kCheckedButton = kItemChecked | kItemButton;
const ExpectedMenuItem kIdle[] = {{IDM_RECORD, kItemButton}, {IDM_STOP, kGrayedButton}, {IDM_PAUSE, kItemButton}};
const ExpectedMenuItem kRecording[] = {
    {IDM_RECORD, kGrayedButton}, {IDM_STOP, kItemButton}, {IDM_PAUSE, kItemButton}, {IDM_SETUP}};
const ExpectedMenuItem kIdlePaused[] = {
    {IDM_RECORD, kItemButton}, {IDM_STOP, kGrayedButton}, {IDM_PAUSE, kCheckedButton}};
const ExpectedMenuItem kRecordingPaused[] = {
    {IDM_RECORD, kGrayedButton}, {IDM_STOP, kItemButton}, {IDM_PAUSE, kCheckedButton}};

::testing::AssertionResult shows(const char *context, std::span<const ExpectedMenuItem> expected) {
    return commandStatesMatch(context, expected, AppTest::mainWindow(), AppTest::toolbar());
}

TEST_F(CaptureStateTest, RecordThenStopSwitchesBetweenTheRows) {
    installCamera(Camera::Simulated);
    user().at(1000, [&] { choose(IDM_RECORD); });
    user().at(1500, [&] {
        EXPECT_TRUE(shows("recording", kRecording));
        choose(IDM_STOP);
    });
    user().at(1600, [&] {
        EXPECT_TRUE(shows("stopped", kIdle));
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

// The toolbar buttons send the same commands as the menu.
TEST_F(CaptureStateTest, ToolbarButtonsRunTheCycle) {
    installCamera(Camera::Simulated);
    std::size_t before = 0;
    user().at(1000, [&] {
        before = cameraPortWrites().size();
        EXPECT_TRUE(plat::user::clickToolbarButton(toolbar(), IDM_RECORD));
    });
    user().at(1500, [&] {
        ASSERT_GT(cameraPortWrites().size(), before);
        EXPECT_EQ(cameraPortWrites()[before].value, 0x0B);
        EXPECT_TRUE(shows("recording", kRecording));
        EXPECT_TRUE(plat::user::clickToolbarButton(toolbar(), IDM_STOP));
    });
    user().at(1600, [&] {
        EXPECT_EQ(plat::session().component<plat::ParallelPort>().data(), 0x00);
        EXPECT_TRUE(shows("stopped", kIdle));
        // A disabled button sends nothing.
        before = cameraPortWrites().size();
        plat::user::clickToolbarButton(toolbar(), IDM_STOP);
    });
    user().at(1700, [&] {
        EXPECT_EQ(cameraPortWrites().size(), before);
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

// Pause, from the menu or the toolbar, whether or not a run is on. The
// indication outlasts Stop and the next Record; Record and Stop never move.
struct PauseWay {
    const char *name;
    void (*press)(AppTest &);
};
const PauseWay kPauseWays[] = {
    {"Menu", [](AppTest &t) { t.choose(IDM_PAUSE); }},
    {"Toolbar", [](AppTest &) { EXPECT_TRUE(plat::user::clickToolbarButton(AppTest::toolbar(), IDM_PAUSE)); }},
    {"Accelerated",  // a command carrying the accelerator flag
     [](AppTest &) { PostMessageA(AppTest::mainWindow(), WM_COMMAND, MAKEWPARAM(IDM_PAUSE, 1), 0); }},
};

void PrintTo(const PauseWay &way, std::ostream *os) { *os << way.name; }

class PauseTest : public AppTest, public ::testing::WithParamInterface<PauseWay> {};

TEST_P(PauseTest, TogglesItsIndicationAloneAndOutlastsStop) {
    installCamera(Camera::Simulated);
    const PauseWay &way = GetParam();
    user().at(1000, [&] { way.press(*this); });  // no run yet
    user().at(1100, [&] {
        EXPECT_TRUE(shows("paused before a run", kIdlePaused));
        EXPECT_EQ(cameraPortWrites().size(), 2u);  // only the start-up rests
        way.press(*this);
    });
    user().at(1200, [&] {
        EXPECT_TRUE(shows("pause pressed again", kIdle));
        way.press(*this);
        choose(IDM_RECORD);
    });
    user().at(1300, [&] {
        EXPECT_TRUE(shows("paused run", kRecordingPaused));
        choose(IDM_STOP);
    });
    user().at(1400, [&] {
        EXPECT_TRUE(shows("stopped while paused", kIdlePaused));
        choose(IDM_RECORD);
    });
    user().at(1500, [&] {
        EXPECT_TRUE(shows("paused again in the next run", kRecordingPaused));
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

INSTANTIATE_TEST_SUITE_P(Ways, PauseTest, ::testing::ValuesIn(kPauseWays),
                         [](const auto &info) { return std::string(info.param.name); });

// Pause arms and kills no timer: a paused run goes on exposing and reading
// out, whenever Pause is pressed.
TEST_F(CaptureStateTest, PausedRunKeepsItsTimeline) {
    installCamera(Camera::Simulated);
    writeSettingsFile("[Flags]\nAmpOff=1\n[Capture]\nExposure=2001\nDelay=700\n");
    std::size_t from = 0;
    user().at(500, [&] { choose(IDM_PAUSE); });
    user().at(1000, [&] {
        from = cameraPortWrites().size();
        stopAfterWrite(0x0F, 3, 200, 100);
        choose(IDM_RECORD);
    });
    user().at(2500, [&] { choose(IDM_PAUSE); });  // in the middle of the amplifier-off phase
    user().at(3500, [&] { choose(IDM_PAUSE); });  // in the amplifier-on second
    EXPECT_EQ(runProgram(), 0);
    const ExpectedPortWrite expected[] = {
        {0x0F, 0},
        {0x0B, 1001},
        {0x09, 1000, kPortReadoutLevel},
        {0x08, 1000, kPortReadoutLevel},
        {0x00, 1000, kPortAfterReadout},
        {0x0F, 700, kPortAfterReadout},
        {0x0B, 1001},
        {0x09, 1000, kPortReadoutLevel},
        {0x08, 1000, kPortReadoutLevel},
        {0x00, 1000, kPortAfterReadout},
        {0x0F, 700, kPortAfterReadout},
        {0x00, 200},  // Stop
        {0x00, 100},  // exit
    };
    EXPECT_TRUE(portTimelineMatches(expected, from, 1000, readoutAllowanceMs(Camera::Simulated)));
}

// Without a capture driver the output file cannot be made: its message is
// shown, the port stays at rest and no timer runs, but the run shows as
// started until Stop.
TEST_F(CaptureStateTest, RecordWithoutAnOutputFileShowsARunAndStopEndsIt) {
    installCamera(Camera::None);
    std::size_t before = 0;
    user().at(1000, [&] {
        before = cameraPortWrites().size();
        choose(IDM_RECORD);
    });
    user().at(1100, [&] {
        const auto &boxes = plat::user::messageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Error");
        ASSERT_NE(boxes[0].window, nullptr);
        user().pressKey(VK_RETURN, '\r');
    });
    user().at(60000, [&] {
        EXPECT_EQ(cameraPortWrites().size(), before);
        EXPECT_TRUE(shows("run without a file", kRecording));
        choose(IDM_STOP);
    });
    user().at(60100, [&] {
        ASSERT_EQ(cameraPortWrites().size(), before + 1);
        EXPECT_EQ(cameraPortWrites()[before].value, 0x00);
        EXPECT_TRUE(shows("stopped", kIdle));
        exitProgram();
    });
    EXPECT_EQ(runProgram(), 0);
}

}  // namespace
}  // namespace noctil::test
