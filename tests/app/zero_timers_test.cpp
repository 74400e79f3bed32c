// Exposure and delay times of 0, and values that count as 0, make the
// cycle's timers due on every turn of the loop; Stop and Exit still work,
// because a person's commands come before a timer that is already due.
#include <camport.h>

#include <string>

#include "app_test.h"
#include "port/parallel_port.h"

namespace noctil::test {
namespace {

constexpr std::uint8_t kIdle = PORT_IDLE, kExpose = PORT_EXPOSE;

struct ZeroCase {
    const char *name;
    const char *capture;  // the [Capture] lines of the settings file
    bool stopFirst;       // Stop, then Exit; else Exit during the run
};

const ZeroCase kZeroCases[] = {
    {"StopAtZeroExposureAndDelay", "Exposure=0\r\nDelay=0\r\n", true},
    {"ExitAtZeroExposureAndDelay", "Exposure=0\r\nDelay=0\r\n", false},
    {"StopWhenNegativeTimesCountAsZero", "Exposure=-1\r\nDelay=-2000\r\n", true},
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

}  // namespace
}  // namespace noctil::test
