// What the camera's lines hold over an exposure, as the protocol gives it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "camera/exposure_levels.h"

namespace {

using noctil::camera::ExposurePhase;

struct StartCase {
    const char *name;
    std::int32_t exposureMs;
    bool ampOff;
    ExposurePhase expected;
};

// clang-format off
const StartCase kStarts[] = {
    {"amplifier on",                      30000, false, {PORT_EXPOSE,        30000,      false}},
    {"amplifier off, long",               30000, true,  {PORT_EXPOSE_AMPOFF, 29000,      true}},
    {"amplifier off, just over the floor", 2001, true,  {PORT_EXPOSE_AMPOFF,  1001,      true}},
    {"amplifier off, at the floor",        2000, true,  {PORT_EXPOSE,         2000,      false}},
    {"amplifier off, short",                500, true,  {PORT_EXPOSE,          500,      false}},
    {"no time",                               0, false, {PORT_EXPOSE,            0,      false}},
    {"negative time counts as none",         -5, true,  {PORT_EXPOSE,            0,      false}},
    {"the longest time, amplifier off",
        std::numeric_limits<std::int32_t>::max(), true, {PORT_EXPOSE_AMPOFF, 2147482647u, true}},
};
// clang-format on

TEST(ExposureLevels, StartOfAnExposure)
{
    for (const StartCase &c : kStarts) {
        SCOPED_TRACE(c.name);
        const ExposurePhase phase = noctil::camera::exposureStart(c.exposureMs, c.ampOff);
        EXPECT_EQ(phase.level, c.expected.level);
        EXPECT_EQ(phase.durationMs, c.expected.durationMs);
        EXPECT_EQ(phase.amplifierOff, c.expected.amplifierOff);
    }
}

TEST(ExposureLevels, AmplifierLastSecond)
{
    const ExposurePhase phase = noctil::camera::amplifierOnPhase();
    EXPECT_EQ(phase.level, PORT_EXPOSE);
    EXPECT_EQ(phase.durationMs, 1000u);
    EXPECT_FALSE(phase.amplifierOff);
}

struct ReadoutCase {
    std::uint32_t height;
    bool fields;
    CameraPortValue level;
};

// clang-format off
const ReadoutCase kReadouts[] = {
    {480, true,  PORT_READOUT_480},
    {576, true,  PORT_READOUT_480},
    {240, false, PORT_READOUT},
    {288, false, PORT_READOUT},
    {481, false, PORT_READOUT},
    {120, false, PORT_READOUT},
    {0,   false, PORT_READOUT},
};
// clang-format on

TEST(ExposureLevels, ReadoutLevelByHeight)
{
    for (const ReadoutCase &c : kReadouts) {
        SCOPED_TRACE(c.height);
        EXPECT_EQ(noctil::camera::isFieldModeHeight(c.height), c.fields);
        EXPECT_EQ(noctil::camera::readoutLevel(c.height), c.level);
    }
}

}  // namespace
