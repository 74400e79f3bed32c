// Exposure and delay times of 0, and values that count as 0, make the
// cycle's timers due on every turn of the loop; Stop and Exit still work,
// because a person's commands come before a timer that is already due.
#include <camport.h>

#include <string>

#include "app_test.h"
#include "dialog_user.h"
#include "port/parallel_port.h"

namespace noctil::test {
namespace {

constexpr std::uint8_t kIdle = PORT_IDLE, kExpose = PORT_EXPOSE;

struct ZeroCase {
    const char *name;
    const char *capture;  // the [Capture] lines of the settings file
    bool stopFirst;       // Stop, then Exit; else Exit during the run
    bool told = false;    // a box says the times run as 0 ms; Enter closes it
};

const ZeroCase kZeroCases[] = {
    {"StopAtZeroExposureAndDelay", "Exposure=0\r\nDelay=0\r\n", true},
    {"ExitAtZeroExposureAndDelay", "Exposure=0\r\nDelay=0\r\n", false},
    {"StopWhenNegativeTimesCountAsZero", "Exposure=-1\r\nDelay=-2000\r\n", true, true},
    {"StopAtZeroExposureWithADelay", "Exposure=0\r\nDelay=300\r\n", true},
};

class ZeroTimersTest : public AppTest, public ::testing::WithParamInterface<ZeroCase> {};

TEST_P(ZeroTimersTest, StopAndExitReachTheProgram) {
    const ZeroCase &c = GetParam();
    installCamera(Camera::Simulated);
    writeSettingsFile(std::string("[Filenames]\r\nImageFile=C:\\zero.avi\r\n[Capture]\r\n") + c.capture);
    constexpr std::uint32_t kRecordMs = 500, kCommandMs = 1500, kExitMs = 2500;
    bool recordBack = false, stopGreyed = false;
    std::size_t exposuresAtExit = 0, exposuresBeforeStop = 0;
    const auto exposures = [] {
        std::size_t n = 0;
        for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes())
            n += w.value == kExpose;
        return n;
    };
    user().at(kRecordMs, [&] { choose(IDM_RECORD); });
    if (c.told) user().at(kRecordMs + 100, [&] { EXPECT_NE(pressEnter(), nullptr); });
    if (c.stopFirst) {
        user().at(kCommandMs, [&] {
            exposuresBeforeStop = exposures();
            choose(IDM_STOP);
        });
        user().at(kExitMs, [&] {
            recordBack = menuEnabled(IDM_RECORD);
            stopGreyed = !menuEnabled(IDM_STOP);
            exposuresAtExit = exposures();
            exitProgram();
        });
    } else {
        user().at(kCommandMs, [&] {
            exposuresBeforeStop = exposures();
            exitProgram();
        });
    }
    setTimeLimitMs(20000);
    ASSERT_EQ(runProgram(), 0) << "the program ended through its own commands";

    EXPECT_GE(exposuresBeforeStop, 3u) << "the cycle ran at full speed before the command";
    const auto writes = plat::session().component<plat::ParallelPort>().writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().value, kIdle) << "the camera rests at the end";
    plat::Micros lastExposure = 0;
    for (const plat::PortWrite &w : writes)
        if (w.value == kExpose) lastExposure = w.time;
    // The command took effect within one readout of the person's click.
    EXPECT_LE(plat::toMillis(lastExposure), kCommandMs + readoutAllowanceMs(Camera::Simulated));
    if (c.stopFirst) {
        EXPECT_TRUE(recordBack);
        EXPECT_TRUE(stopGreyed);
        EXPECT_LE(exposuresAtExit, exposuresBeforeStop + 1) << "no exposure after Stop";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ZeroTimersTest, ::testing::ValuesIn(kZeroCases),
                         [](const auto &info) { return std::string(info.param.name); });

// A hand-edited settings file's negative time is taken as the file says and
// run as 0 ms (the timers' shortest, 10 ms), never silently: Record's run tells the user in a box that
// opens from the queue, so the cycle goes on behind it. A time of 0 is a
// time and says nothing.
struct NegativeCase {
    const char *name;
    const char *capture;
    const char *told;  // null: no box
};
void PrintTo(const NegativeCase &c, std::ostream *os) { *os << c.name; }

const NegativeCase kNegativeCases[] = {
    {"NegativeExposure", "Exposure=-5\r\nDelay=100\r\n",
     "The exposure time in Noctil.ini, -5 ms, is below 0: this run exposes for the shortest time, 10 ms.\n"
     "Set the time in Capture > Setup."},
    {"NegativeDelay", "Exposure=10\r\nDelay=-2147483648\r\n",
     "The delay time in Noctil.ini, -2147483648 ms, is below 0: this run waits the shortest time, 10 ms, between "
     "images.\n"
     "Set the time in Capture > Setup."},
    {"BothNegative", "Exposure=-1\r\nDelay=-1\r\n",
     "The exposure time in Noctil.ini, -1 ms, is below 0: this run exposes for the shortest time, 10 ms.\n"
     "The delay time in Noctil.ini, -1 ms, is below 0: this run waits the shortest time, 10 ms, between images.\n"
     "Set the time in Capture > Setup."},
    {"ZeroIsATime", "Exposure=0\r\nDelay=100\r\n", nullptr},
};

class NegativeTimesTest : public AppTest, public ::testing::WithParamInterface<NegativeCase> {};

TEST_P(NegativeTimesTest, TheRunSaysItRunsThemAsZero) {
    const NegativeCase &c = GetParam();
    installCamera(Camera::Simulated);
    writeSettingsFile(std::string("[Filenames]\r\nImageFile=C:\\zero.avi\r\n[Capture]\r\n") + c.capture);
    const auto exposures = [] {
        std::size_t n = 0;
        for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes())
            n += w.value == kExpose;
        return n;
    };
    std::size_t exposuresWhileOpen = 0, boxesWhileOpen = 0;
    user().at(500, [&] { choose(IDM_RECORD); });
    user().at(1500, [&] {
        boxesWhileOpen = messageBoxLog().size();
        exposuresWhileOpen = exposures();
        if (boxesWhileOpen > 0 && messageBoxLog().back().result == 0) pressEnter();
    });
    user().at(1600, [&] { choose(IDM_STOP); });
    user().at(1700, [&] { exitProgram(); });
    setTimeLimitMs(20000);
    ASSERT_EQ(runProgram(), 0);

    if (!c.told) {
        EXPECT_EQ(messageBoxTexts(), std::vector<std::string>{});
        return;
    }
    ASSERT_EQ(messageBoxTexts(), std::vector<std::string>{c.told});
    EXPECT_EQ(messageBoxLog()[0].caption, "Error");
    EXPECT_EQ(messageBoxLog()[0].result, IDOK);
    EXPECT_GE(exposuresWhileOpen, 3u) << "the cycle went on behind the box";
    const std::vector<IniEntry> saved = settingsEntries();
    for (const IniEntry &e : saved) {
        if (e.section != "Capture" || (e.key != "Exposure" && e.key != "Delay")) continue;
        EXPECT_NE(std::string(c.capture).find(e.key + "=" + e.value + "\r\n"), std::string::npos)
            << "the file's own value is kept: " << e.key << "=" << e.value;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NegativeTimesTest, ::testing::ValuesIn(kNegativeCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
