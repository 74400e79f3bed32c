// The exposure cycle as the camera sees it: the port levels and how long
// each is held, from Record to Stop and the program's end, for each camera.
#include <camport.h>

#include <string>

#include "app_test.h"
#include "port_timeline.h"

namespace noctil::test {
namespace {

constexpr std::uint8_t kIdle = PORT_IDLE, kExpose = PORT_EXPOSE, kExposeAmpOff = PORT_EXPOSE_AMPOFF,
                       kReadout = PORT_READOUT, kReadout480 = PORT_READOUT_480;
constexpr unsigned R = kPortAfterReadout;
constexpr unsigned L = kPortReadoutLevel;
constexpr std::uint32_t kRecordAtMs = 1000;
constexpr std::uint32_t kExitAfterStopMs = 100;

// Stop is chosen `afterMs` after the `occurrence`-th write of `value` since
// Record, so it lands in the same state of the cycle whatever the camera.
struct StopTrigger {
    std::uint8_t value;
    int occurrence;
    std::uint32_t afterMs;
};

struct TimelineCase {
    const char *name;
    const char *settings;
    StopTrigger stop;
    std::span<const ExpectedPortWrite> expected;
};

// Amplifier off but only 2000 ms: one phase with the amplifier on.
const ExpectedPortWrite kAmpOff2000[] = {
    {kExpose, 0},
    {kReadout480, 2000, L},
    {kReadout, 2000, L},
    {kIdle, 2000, R},
    {kExpose, 0, R},  // delay 0: the next exposure at once
    {kIdle, 500},     // Stop while exposing
    {kIdle, kExitAfterStopMs},
};

// 2001 ms with the amplifier off: 1001 ms off, then the last second on.
const ExpectedPortWrite kAmpOff2001[] = {
    {kExposeAmpOff, 0},        {kExpose, 1001},       {kReadout480, 1000, L}, {kReadout, 1000, L},
    {kIdle, 1000, R},          {kExposeAmpOff, 0, R}, {kIdle, 300},  // Stop in the amplifier-off phase
    {kIdle, kExitAfterStopMs},
};

const ExpectedPortWrite kAmpOn10000[] = {
    {kExpose, 0},
    {kReadout480, 10000, L},
    {kReadout, 10000, L},
    {kIdle, 10000, R},
    {kExpose, 2500, R},
    {kIdle, 4000},  // Stop while exposing
    {kIdle, kExitAfterStopMs},
};

const ExpectedPortWrite kStopInDelay[] = {
    {kExposeAmpOff, 0},        {kExpose, 4000},  {kReadout480, 1000, L},
    {kReadout, 1000, L},       {kIdle, 1000, R}, {kIdle, 5000},  // Stop during the 8000 ms delay: no further exposure
    {kIdle, kExitAfterStopMs},
};

const ExpectedPortWrite kStopAtOnce[] = {
    {kExposeAmpOff, 0},
    {kIdle, 10},  // Stop 10 ms into a 30 s exposure
    {kIdle, kExitAfterStopMs},
};

const ExpectedPortWrite kTwoFullImages[] = {
    {kExposeAmpOff, 0},       {kExpose, 2000}, {kReadout480, 1000, L},    {kReadout, 1000, L}, {kIdle, 1000, R},
    {kExposeAmpOff, 1500, R}, {kExpose, 2000}, {kReadout480, 1000, L},    {kReadout, 1000, L}, {kIdle, 1000, R},
    {kExposeAmpOff, 1500, R}, {kIdle, 100},    {kIdle, kExitAfterStopMs},
};

// A negative exposure from a hand-edited file counts as 0 ms, not as a
// timer of 49 days.
const ExpectedPortWrite kNegativeExposure[] = {
    {kExpose, 0},        {kReadout480, 0, L}, {kReadout, 0, L}, {kIdle, 0, R}, {kExpose, 8000, R},
    {kReadout480, 0, L}, {kReadout, 0, L},    {kIdle, 0, R},    {kIdle, 5000}, {kIdle, kExitAfterStopMs},
};

// A negative delay counts as 0 ms as well.
const ExpectedPortWrite kNegativeDelay[] = {
    {kExpose, 0},    {kReadout480, 2000, L}, {kReadout, 2000, L},       {kIdle, 2000, R},
    {kExpose, 0, R}, {kIdle, 700},           {kIdle, kExitAfterStopMs},
};

const TimelineCase kCases[] = {
    {"AmpOffAt2000IsOnePhase",
     "[Flags]\nAmpOff=1\n[Capture]\nExposure=2000\nDelay=0\n",
     {kExpose, 2, 500},
     kAmpOff2000},
    {"AmpOffAt2001SplitsTheExposure",
     "[Flags]\nAmpOff=1\n[Capture]\nExposure=2001\nDelay=0\n",
     {kExposeAmpOff, 2, 300},
     kAmpOff2001},
    {"AmpOnFor10000", "[Flags]\nAmpOff=0\n[Capture]\nExposure=10000\nDelay=2500\n", {kExpose, 2, 4000}, kAmpOn10000},
    {"StopDuringTheDelay", "[Flags]\nAmpOff=1\n[Capture]\nExposure=5000\nDelay=8000\n", {kIdle, 1, 5000}, kStopInDelay},
    {"StopRightAfterRecord", "[Flags]\nAmpOff=1\n[Capture]\nExposure=30000\n", {kExposeAmpOff, 1, 10}, kStopAtOnce},
    {"TwoImagesWithADelay",
     "[Flags]\nAmpOff=1\n[Capture]\nExposure=3000\nDelay=1500\n",
     {kExposeAmpOff, 3, 100},
     kTwoFullImages},
    {"NegativeExposureCountsAsZero",
     "[Flags]\nAmpOff=1\n[Capture]\nExposure=-5\nDelay=8000\n",
     {kIdle, 2, 5000},
     kNegativeExposure},
    {"NegativeDelayCountsAsZero", "[Capture]\nExposure=2000\nDelay=-1\n", {kExpose, 2, 700}, kNegativeDelay},
};

void PrintTo(const TimelineCase &c, std::ostream *os) { *os << c.name; }

class ExposureTimelineTest : public AppTest, public ::testing::WithParamInterface<std::tuple<TimelineCase, Camera>> {};

TEST_P(ExposureTimelineTest, PortFollowsTheCycle) {
    const auto &[c, camera] = GetParam();
    installCamera(camera);
    writeSettingsFile(c.settings);

    std::size_t recordIndex = 0;
    user().at(kRecordAtMs, [&] {
        recordIndex = cameraPortWrites().size();
        stopAfterWrite(c.stop.value, c.stop.occurrence, c.stop.afterMs, kExitAfterStopMs);
        choose(IDM_RECORD);
    });

    EXPECT_EQ(runProgram(), 0);
    EXPECT_TRUE(stopChosen());
    EXPECT_TRUE(portTimelineMatches(c.expected, recordIndex, kRecordAtMs, readoutAllowanceMs(camera)));
}

INSTANTIATE_TEST_SUITE_P(Runs, ExposureTimelineTest,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(Camera::Simulated, Camera::Test240)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    cameraName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace noctil::test
