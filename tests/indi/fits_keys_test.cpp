// The driver's FITS keys: what each says of an exposure, from the port's
// times and the engine's facts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fits_file.h"
#include "fits_keys.h"

namespace noctil::indi {
namespace {

using convert::FitsKeyword;

// 2000-01-01T00:00:00 UTC on the clock's time 0.
constexpr plat::UtcMicros kUtc2000 = 946'684'800'000'000;

ExposureOutcome outcome() {
    ExposureOutcome o;
    o.end = ExposureOutcome::End::Image;
    o.requested = 2'500'000;
    o.exposeStart = 8'164'000;
    o.exposeEnd = 10'664'321;
    o.ampOff = 1'500'007;
    o.readoutFrame = 10'797'654;
    o.readoutFrames = 5;
    o.utcOffset = kUtc2000;
    o.format = "720x576 YUY2";
    o.portBackend = "ppdev";
    return o;
}

struct KeyRow {
    const char *name;
    const char *value;  // as written: text, or the number with its decimals
};

std::string written(const FitsKeyword &k) {
    switch (k.kind) {
    case FitsKeyword::Kind::Fixed: {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", k.decimals, k.number);
        return text;
    }
    case FitsKeyword::Kind::Integer: return std::to_string(k.integer);
    default: return k.text;
    }
}

void expectKeys(const std::vector<FitsKeyword> &keys, const std::vector<KeyRow> &expected) {
    ASSERT_EQ(keys.size(), expected.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].name, expected[i].name) << "key " << i + 1;
        EXPECT_EQ(written(keys[i]), expected[i].value) << keys[i].name;
    }
}

// clang-format off
const std::vector<KeyRow> kLightKeys = {
    {"EXPTIME",  "2.500321"},  // what the lines held, not what was asked for
    {"TIMESYS",  "UTC"},
    {"DATE-OBS", "2000-01-01T00:00:08.164000"},
    {"DATE-END", "2000-01-01T00:00:10.664321"},
    {"EXPREQ",   "2.500000"},
    {"AMPOFF",   "1.500007"},
    {"DATE-RDF", "2000-01-01T00:00:10.797654"},
    {"RDFRAMES", "5"},
    {"VIDEOFMT", "720x576 YUY2"},
    {"PORTBACK", "ppdev"},
};
// clang-format on

TEST(FitsKeys, TheExposureAsThePortHeldIt) { expectKeys(exposureKeys(outcome(), false), kLightKeys); }

TEST(FitsKeys, ADarkGetsItsDarkTimeFromThePortToo) {
    std::vector<KeyRow> dark = kLightKeys;
    dark.insert(dark.begin() + 1, {"DARKTIME", "2.500321"});
    expectKeys(exposureKeys(outcome(), true), dark);
}

TEST(FitsKeys, ALongExposureKeepsItsMicroseconds) {
    ExposureOutcome o = outcome();
    o.exposeEnd = o.exposeStart + 3'600'000'001;  // an hour and a microsecond
    EXPECT_EQ(written(exposureKeys(o, false)[0]), "3600.000001");
}

}  // namespace
}  // namespace noctil::indi
