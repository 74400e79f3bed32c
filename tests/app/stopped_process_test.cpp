// Ctrl+Z, then fg: the process stands still with the camera port at rest.
// An exposure the stop interrupted did not integrate as set, so it is not
// read out as an image: after SIGCONT the cycle rests and starts the
// exposure again, whole, after its delay. A stop in the delay changes
// nothing but the rest the port's log takes in. The stop is made here as
// the stop signal's handler makes it (the port put to rest, the time noted,
// the process going on later), on the virtual clock.
#include <camport.h>

#include "app_test.h"
#include "core/hooks.h"
#include "core/session.h"
#include "core/signals.h"
#include "port/parallel_port.h"
#include "port_timeline.h"

namespace noctil::test {
namespace {

constexpr std::uint8_t kIdle = PORT_IDLE, kExpose = PORT_EXPOSE, kExposeAmpOff = PORT_EXPOSE_AMPOFF,
                       kReadout = PORT_READOUT;
constexpr std::uint32_t kRecordAtMs = 1000;

// The simulated port's backend drives no lines, so it leaves the handler no
// rest to write; this one stands in for a device's, during a stop only.
bool stopping = false;
bool restOfTheStop() noexcept { return stopping; }

// What the stop signal's handler does: the port rests, the process stands
// still for `stoppedMs` (the clock goes on), then goes on.
void stopProcess(std::uint32_t stoppedMs) {
    plat::addSignalRestHook(restOfTheStop);
    stopping = true;
    const bool rested = plat::runSignalRestHooks();
    stopping = false;
    ASSERT_TRUE(rested);
    plat::notePortRestedByStop(0);  // the virtual clock takes the time as now
    plat::Clock &clock = plat::session().clock();
    clock.sleepUntil(clock.now() + plat::Micros{stoppedMs} * 1000);
    plat::noteContinuedAfterStop();
}

constexpr unsigned R = kPortAfterReadout;
constexpr unsigned L = kPortReadoutLevel;

// `afterMs` after the `occurrence`-th write of `value` from Record on.
struct Trigger {
    std::uint8_t value;
    int occurrence;
    std::uint32_t afterMs;
};

struct StopCase {
    const char *name;
    const char *settings;
    Trigger stop;                                 // Ctrl+Z
    std::uint32_t stoppedMs;                      // until fg
    Trigger stopChosen;                           // Stop from the menu, the program's end 100 ms later
    std::span<const ExpectedPortWrite> expected;  // from Record on
};
void PrintTo(const StopCase &c, std::ostream *os) { *os << c.name; }

// 1000 ms into a 3000 ms exposure, stopped for 8000 ms: the log takes in the
// rest when the process goes on and the level comes back; then the cycle
// rests for the delay and exposes the whole 3000 ms again. The interrupted
// exposure has no readout.
const ExpectedPortWrite kDuringTheExposure[] = {
    {kExpose, 0},    {kIdle, 9000},  // the stop's rest, taken in when the process goes on
    {kExpose, 0},                    // the level the program had set
    {kIdle, 0},                      // not read out: the cycle rests
    {kExpose, 5000}, {kReadout, 3000, L}, {kIdle, 3000, R}, {kIdle, 2000},  // Stop in the delay
    {kIdle, 100},                                                           // the program's end
};

// Stopped in the amplifier-off phase: the exposure starts again with the
// amplifier off, for the whole time.
const ExpectedPortWrite kWithTheAmplifierOff[] = {
    {kExposeAmpOff, 0}, {kIdle, 9000},       {kExposeAmpOff, 0}, {kIdle, 0},    {kExposeAmpOff, 5000},
    {kExpose, 4000},    {kReadout, 1000, L}, {kIdle, 1000, R},   {kIdle, 2000}, {kIdle, 100},
};

// Stopped in the last second, with the amplifier on.
const ExpectedPortWrite kInTheLastSecond[] = {
    {kExposeAmpOff, 0}, {kExpose, 4000},     {kIdle, 8000},    {kExpose, 0},  {kIdle, 0},   {kExposeAmpOff, 5000},
    {kExpose, 4000},    {kReadout, 1000, L}, {kIdle, 1000, R}, {kIdle, 2000}, {kIdle, 100},
};

// Stopped in the delay: nothing to start again; the delay that ran out
// meanwhile starts the next exposure at once.
const ExpectedPortWrite kInTheDelay[] = {
    {kExpose, 0}, {kReadout, 1000, L}, {kIdle, 1000, R}, {kIdle, 8000},  // the stop's rest
    {kExpose, 0}, {kReadout, 1000, L}, {kIdle, 1000, R}, {kIdle, 2000}, {kIdle, 100},
};

const StopCase kStopCases[] = {
    {"DuringTheExposure",
     "[Capture]\nExposure=3000\nDelay=5000\n",
     {kExpose, 1, 1000},
     8000,
     {kIdle, 3, 2000},
     kDuringTheExposure},
    {"WithTheAmplifierOff",
     "[Flags]\nAmpOff=1\n[Capture]\nExposure=5000\nDelay=5000\n",
     {kExposeAmpOff, 1, 1000},
     8000,
     {kIdle, 3, 2000},
     kWithTheAmplifierOff},
    {"InTheLastSecond",
     "[Flags]\nAmpOff=1\n[Capture]\nExposure=5000\nDelay=5000\n",
     {kExpose, 1, 500},
     7500,
     {kIdle, 3, 2000},
     kInTheLastSecond},
    {"InTheDelay", "[Capture]\nExposure=1000\nDelay=5000\n", {kIdle, 1, 1000}, 7000, {kIdle, 3, 2000}, kInTheDelay},
};

class StoppedProcessTest : public AppTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppedProcessTest, AnInterruptedExposureStartsAgain) {
    const StopCase &c = GetParam();
    installCamera(Camera::Test240);
    writeSettingsFile(c.settings);
    std::size_t recordIndex = 0;
    plat::Subscription listener;
    user().at(kRecordAtMs, [&] {
        recordIndex = cameraPortWrites().size();
        int seen = 0;
        listener =
            plat::session().component<plat::ParallelPort>().subscribe([&, seen](const plat::PortWrite &w) mutable {
                if (w.value == c.stop.value && ++seen == c.stop.occurrence)
                    user().after(c.stop.afterMs, [&] { stopProcess(c.stoppedMs); });
            });
        stopAfterWrite(c.stopChosen.value, c.stopChosen.occurrence, c.stopChosen.afterMs, 100);
        choose(IDM_RECORD);
    });
    setTimeLimitMs(60000);
    ASSERT_EQ(runProgram(), 0);
    listener.reset();
    EXPECT_TRUE(stopChosen());
    EXPECT_TRUE(portTimelineMatches(c.expected, recordIndex, kRecordAtMs, readoutAllowanceMs(Camera::Test240)));
}

INSTANTIATE_TEST_SUITE_P(Stops, StoppedProcessTest, ::testing::ValuesIn(kStopCases),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace noctil::test
