// The stack: each image's fate, a restart on another size, the weighting by
// measured exposure, strays left out, the noise falling as images come in,
// and no allocation per image after the first.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "alloc_counter.h"
#include "sky_generator.h"
#include "stack/stacker.h"

namespace {

using noctil::stack::Stacker;
using skytest::Pose;
using skytest::Shot;
using skytest::SkyGenerator;

skytest::Sky smallSky() {
    skytest::Sky sky;
    sky.width = 384, sky.height = 288, sky.rngInit = 31;
    return sky;
}

struct FateCase {
    const char *name;
    std::function<Shot(const SkyGenerator &)> image;
    const char *reason;  // "" when stacked
};

// clang-format off
const FateCase kFates[] = {
    {"a drifted image",  [](const SkyGenerator &g) { return g.shoot({14.5, -9.25, 0.3}, 2, 1, 8); }, ""},
    {"a black frame",    [](const SkyGenerator &g) { return g.flat(0); },   "0 stars found, 6 needed"},
    {"a saturated frame", [](const SkyGenerator &g) { return g.flat(255); }, "much brighter than the stack: cloud or dawn?"},
    {"a cloud",          [](const SkyGenerator &g) { return g.shoot({}, 2, 1, 8, std::nullopt, 40); },
                         "much brighter than the stack: cloud or dawn?"},
    {"three stars",      [](const SkyGenerator &g) {
                             skytest::Sky s = g.sky(); s.stars = 3; s.margin = -20; s.rngInit = 77;
                             return SkyGenerator(s).shoot({}, 2, 1, 8); }, "3 stars found, 6 needed"},
    {"another field",    [](const SkyGenerator &g) {
                             skytest::Sky s = g.sky(); s.rngInit = 1234;
                             return SkyGenerator(s).shoot({}, 2, 1, 8); }, "no match with the reference"},
    {"cut short",        [](const SkyGenerator &g) {
                             Shot s = g.shoot({}, 2, 1, 8); s.rows.resize(s.rows.size() / 2); return s; },
                         "image cut short: 165888 of 331776 bytes"},
};
// clang-format on

class Fate : public ::testing::TestWithParam<FateCase> {};

TEST_P(Fate, IsToldAndTheRunGoesOn) {
    const FateCase &c = GetParam();
    const SkyGenerator gen(smallSky());
    Stacker stacker;
    ASSERT_TRUE(stacker.add(gen.shoot({}, 2, 1, 1).in()).reference);
    Shot shot = c.image(gen);
    shot.number = 2;
    const auto &r = stacker.add(shot.in());
    EXPECT_STREQ(r.reason, c.reason);
    EXPECT_EQ(r.stacked, *c.reason == '\0');
    const bool in = *c.reason == '\0';
    EXPECT_EQ(stacker.imagesIn(), in ? 2 : 1);
    EXPECT_EQ(stacker.imagesLeftOut(), in ? 0 : 1);
    if (!in) {
        ASSERT_EQ(stacker.leftOut().size(), 1u);
        EXPECT_EQ(stacker.leftOut()[0].number, 2u);
        EXPECT_STREQ(stacker.leftOut()[0].reason, c.reason);
    }
    EXPECT_TRUE(stacker.add(gen.shoot({1, 1, 0}, 2, 1, 3).in()).stacked) << "the next image still stacks";
}

INSTANTIATE_TEST_SUITE_P(Images, Fate, ::testing::ValuesIn(kFates),
                         [](const auto &info) { return std::to_string(info.index); });

TEST(Restart, AnImageOfAnotherSizeStartsTheStackAgainAndSaysSo) {
    const SkyGenerator big(smallSky());
    skytest::Sky other = smallSky();
    other.width = 320, other.height = 240, other.channels = 1, other.fieldMode = noctil::stack::FieldMode::WholeFrame;
    const SkyGenerator small(other);
    Stacker stacker;
    stacker.add(big.shoot({}, 2, 1, 1).in());
    stacker.add(big.shoot({2, 0, 0}, 2, 1, 2).in());
    ASSERT_EQ(stacker.imagesIn(), 2);
    const auto &r = stacker.add(small.shoot({}, 2, 1, 3).in());
    EXPECT_STREQ(r.notice,
                 "images of 320x240 grey, whole-frame mode after 384x288 colour, field mode: the stack started again");
    EXPECT_TRUE(r.reference);
    EXPECT_EQ(stacker.imagesIn(), 1);
    EXPECT_EQ(stacker.stack().format.width, 320u);
}

TEST(Reset, TheNextImageBecomesTheReference) {
    const SkyGenerator gen(smallSky());
    Stacker stacker;
    stacker.add(gen.shoot({}, 2, 1, 1).in());
    stacker.add(gen.shoot({3, 0, 0}, 2, 1, 2).in());
    stacker.reset();
    EXPECT_EQ(stacker.imagesIn(), 0);
    const auto &r = stacker.add(gen.shoot({7, 0, 0}, 2, 1, 3).in());
    EXPECT_TRUE(r.reference);
    EXPECT_EQ(r.shiftX, 0);
}

// The mean of the stack over the frame's middle, where every image covers it.
double middleMean(Stacker &s, int channel = 0) {
    const auto v = s.stack();
    const std::uint32_t w = v.format.width, h = v.format.height;
    double sum = 0;
    int n = 0;
    for (std::uint32_t y = h / 4; y < 3 * h / 4; ++y)
        for (std::uint32_t x = w / 4; x < 3 * w / 4; ++x, ++n)
            sum += v.planes[std::size_t(channel) * w * h + y * w + x];
    return sum / n;
}

TEST(Weighting, ExposuresFivePercentApartStackToTheTrueFlux) {
    skytest::Sky sky = smallSky();
    sky.background = 40, sky.glow = 0, sky.pedestal = 0, sky.hotPixels = 0, sky.fieldOffset = 0;
    const SkyGenerator gen(sky);
    Stacker stacker;
    const double exposures[] = {2.0, 2.1, 1.9, 2.05, 1.95, 2.1, 1.9, 2.0};
    double sum = 0;
    for (int i = 0; i < 8; ++i) {
        Shot s = gen.shoot({}, exposures[i], 0, 40 + std::uint64_t(i));
        s.number = std::uint32_t(i + 1);
        ASSERT_TRUE(stacker.add(s.in()).stacked);
        sum += exposures[i];
    }
    const auto view = stacker.stack();
    EXPECT_DOUBLE_EQ(view.exposureSumS, sum);
    EXPECT_NEAR(view.meanExposureS, sum / 8, 1e-12);
    // Counts of a mean exposure: the sky rate times it (stars are a small share).
    const double truth = middleMean(stacker, 0);
    Stacker even;
    for (int i = 0; i < 8; ++i) even.add(gen.shoot({}, sum / 8, 0, 40 + std::uint64_t(i)).in());
    EXPECT_NEAR(truth / middleMean(even, 0), 1.0, 0.003);
}

// Background noise of the stack's middle, from neighbouring differences.
double middleNoise(Stacker &s) {
    const auto v = s.stack();
    const std::uint32_t w = v.format.width, h = v.format.height;
    std::vector<double> d;
    for (std::uint32_t y = h / 4; y < 3 * h / 4; ++y)
        for (std::uint32_t x = w / 4; x < 3 * w / 4; x += 2)
            d.push_back(std::fabs(v.planes[y * w + x] - v.planes[y * w + x + 1]));
    std::nth_element(d.begin(), d.begin() + long(d.size() / 2), d.end());
    return 1.4826 * d[d.size() / 2] / std::sqrt(2.0);
}

TEST(Noise, FallsWithTheSquareRootOfTheImages) {
    skytest::Sky sky = smallSky();
    sky.channels = 1;
    const SkyGenerator gen(sky);
    Stacker one, many;
    one.add(gen.shoot({}, 2, 1, 500).in());
    const int n = 16;
    for (int i = 0; i < n; ++i) many.add(gen.shoot({i * 0.5, -i * 0.25, 0}, 2, 1, 600 + std::uint64_t(i)).in());
    ASSERT_EQ(many.imagesIn(), n);
    EXPECT_LE(middleNoise(many), 1.1 / std::sqrt(double(n)) * middleNoise(one));
}

TEST(Rejection, ATrailInOneImageOfTenHardlyShows) {
    skytest::Sky sky = smallSky();
    sky.channels = 1, sky.hotPixels = 0;
    const SkyGenerator gen(sky);
    Stacker with, without;
    const skytest::Trail trail{10, 200, 370, 150, 5};
    for (int i = 0; i < 10; ++i) {
        const Pose pose{double(i), 0, 0};  // whole pixels: the trail stays one pixel wide
        without.add(gen.shoot(pose, 2, 1, 700 + std::uint64_t(i)).in());
        const auto &r =
            with.add(gen.shoot(pose, 2, 1, 700 + std::uint64_t(i), i == 7 ? std::optional(trail) : std::nullopt).in());
        ASSERT_TRUE(r.stacked);
        if (i == 7) {
            EXPECT_GT(r.strayPixels, 200u);
        }
    }
    const auto a = with.stack(), b = without.stack();
    // Unrejected, the trail would leave 5 sigma / 10 images = 0.5 sigma along its length.
    double along = 0, worst = 0;
    int n = 0;
    for (int i = 0; i <= 360; ++i, ++n) {
        const int x = 10 + i - 7, y = int(200 - 50.0 * i / std::hypot(360.0, 50.0) * std::hypot(360.0, 50.0) / 360);
        along += a.planes[std::size_t(y) * 384 + std::size_t(x)] - b.planes[std::size_t(y) * 384 + std::size_t(x)];
    }
    for (std::size_t i = 0; i < a.planes.size(); ++i)
        worst = std::max(worst, double(std::fabs(a.planes[i] - b.planes[i])));
    EXPECT_LT(along / n, 0.1 * sky.noise) << "mean of what the trail left along it, counts";
    EXPECT_LT(worst, 0.6 * sky.noise) << "most the stack changed at a pixel, counts";
}

TEST(Memory, NoAllocationPerImageAfterTheFirst) {
    const SkyGenerator gen(smallSky());
    std::vector<Shot> shots;
    for (int i = 0; i < 8; ++i) shots.push_back(gen.shoot({i * 1.5, i * -0.7, i * 0.05}, 2, 1, 800 + std::uint64_t(i)));
    shots.push_back(gen.flat(0));
    shots.push_back(gen.flat(255));
    Stacker stacker;
    stacker.add(shots[0].in());
    alloc_counter::Scope counting;
    for (std::size_t i = 1; i < shots.size(); ++i) stacker.add(shots[i].in());
    stacker.stack();
    EXPECT_EQ(counting.count(), 0u);
    EXPECT_EQ(stacker.imagesIn(), 8);
}

TEST(Repeat, TheSameImagesGiveTheSameStackBitForBit) {
    const SkyGenerator gen(smallSky());
    Stacker a, b;
    for (int i = 0; i < 6; ++i) {
        const Shot s = gen.shoot({i * 3.7, i * 1.1, i * 0.07}, 2, 1, 900 + std::uint64_t(i));
        a.add(s.in());
        b.add(s.in());
    }
    const auto x = a.stack(), y = b.stack();
    ASSERT_EQ(x.planes.size(), y.planes.size());
    EXPECT_EQ(std::memcmp(x.planes.data(), y.planes.data(), x.planes.size_bytes()), 0);
}

}  // namespace

namespace {

struct ChannelCase {
    const char *name;
    int firstChannels, secondChannels;  // of the sky each image shows
    bool secondBlack;
    int stackChannels;
    const char *notice;
};

// Images come in with channels 0: the stacker tells grey from colour.
// clang-format off
const ChannelCase kChannels[] = {
    {"grey images make a grey stack",       1, 1, false, 1, ""},
    {"colour images make a colour stack",   3, 3, false, 3, ""},
    {"a black frame joins a colour stack",  3, 3, true,  3, ""},
    {"colour after grey starts again",      1, 3, false, 3,
     "images of 384x288 colour, field mode after 384x288 grey, field mode: the stack started again"},
};
// clang-format on

class Channels : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(Channels, AreToldFromTheImages) {
    const ChannelCase &c = GetParam();
    skytest::Sky first = smallSky(), second = smallSky();
    first.channels = c.firstChannels, second.channels = c.secondChannels;
    Stacker stacker;
    Shot a = SkyGenerator(first).shoot({}, 2, 1, 1);
    Shot b = c.secondBlack ? SkyGenerator(second).flat(0) : SkyGenerator(second).shoot({1, 0, 0}, 2, 1, 2);
    a.format.channels = b.format.channels = 0;
    stacker.add(a.in());
    const auto &r = stacker.add(b.in());
    EXPECT_STREQ(r.notice, c.notice);
    EXPECT_EQ(stacker.stack().format.channels, c.stackChannels);
}

INSTANTIATE_TEST_SUITE_P(Images, Channels, ::testing::ValuesIn(kChannels),
                         [](const auto &info) { return std::to_string(info.index); });

TEST(Exposure, AnImageWithoutItsMeasuredExposureStaysOutOfAMeasuredStack) {
    const SkyGenerator gen(smallSky());
    Stacker stacker;
    stacker.add(gen.shoot({}, 2, 1, 1).in());
    Shot s = gen.shoot({1, 0, 0}, 2, 1, 2);
    s.exposureS = 0;
    EXPECT_STREQ(stacker.add(s.in()).reason, "no measured exposure, unlike the images in the stack");
    EXPECT_EQ(stacker.imagesIn(), 1);
}

}  // namespace
