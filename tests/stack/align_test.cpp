// Matching to the reference: known drifts and turns recovered within a
// small fraction of a pixel, over many random poses; never a match between
// unrelated fields.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "stack/match.h"
#include "sky_generator.h"
#include "stack/stacker.h"

namespace {

using noctil::stack::Similarity;
using noctil::stack::Stacker;

// The largest distance, over a grid of the frame, between where two
// transforms put a point.
double alignmentError(const Similarity &a, const Similarity &b, double w, double h) {
    double worst = 0;
    for (double y = 0; y <= h; y += h / 4)
        for (double x = 0; x <= w; x += w / 4)
            worst = std::max(worst, std::hypot(a.mapX(x, y) - b.mapX(x, y), a.mapY(x, y) - b.mapY(x, y)));
    return worst;
}

// The transform the stacker reported, rebuilt from its drift and turn.
Similarity reported(const noctil::stack::ImageResult &r, const skytest::Sky &sky) {
    const skytest::SkyGenerator gen(sky);
    return gen.truth({r.shiftX, r.shiftY, r.rotationDeg});
}

struct PoseCase {
    const char *name;
    skytest::Pose pose;
    double noise;
    int channels;
};

// clang-format off
const PoseCase kPoses[] = {
    {"still",                         {0, 0, 0},        6, 3},
    {"drift of 60 px",                {60, 0, 0},       6, 3},
    {"drift down-left, half pixels",  {-41.5, -37.5, 0}, 6, 1},
    {"turn of half a degree",         {0, 0, 0.5},      6, 3},
    {"drift and turn back",           {25.3, -48.7, -0.5}, 10, 1},
    {"quiet camera",                  {-12.2, 7.9, 0.3}, 4, 3},
};
// clang-format on

class KnownPose : public ::testing::TestWithParam<PoseCase> {};

TEST_P(KnownPose, IsRecovered) {
    const PoseCase &c = GetParam();
    skytest::Sky sky;
    sky.width = 640, sky.height = 480, sky.channels = c.channels, sky.noise = c.noise, sky.rngInit = 11;
    const skytest::SkyGenerator gen(sky);
    Stacker stacker;
    ASSERT_TRUE(stacker.add(gen.shoot({}, 2.0, 1.0, 1).in()).reference);
    const auto &r = stacker.add(gen.shoot(c.pose, 2.0, 1.0, 2).in());
    ASSERT_TRUE(r.stacked) << r.reason;
    EXPECT_NEAR(r.shiftX, c.pose.dx, 0.15);
    EXPECT_NEAR(r.shiftY, c.pose.dy, 0.15);
    EXPECT_NEAR(r.rotationDeg, c.pose.degrees, 0.02);
    EXPECT_LT(alignmentError(reported(r, sky), gen.truth(c.pose), sky.width, sky.height), 0.25);
    EXPECT_GE(r.pairs, 12);
}

INSTANTIATE_TEST_SUITE_P(Poses, KnownPose, ::testing::ValuesIn(kPoses),
                         [](const auto &info) { return std::to_string(info.index); });

struct CrowdCase {
    const char *name;
    int stars;         // on the sky generator's field
    double margin;     // of the field around the frame
    int fewest, most;  // stars in the frame of the images counted
    int images;
    double share;  // of the images stacked within 0.15 px rms
};

// clang-format off
const CrowdCase kCrowds[] = {
    {"12 or more stars", 40, 0,  12, 99, 60, 0.995},
    {"6 to 11 stars",    11, -8,  6, 11, 60, 0.95},
};
// clang-format on

class RandomPoses : public ::testing::TestWithParam<CrowdCase> {};

// Small frames keep the test quick; the matcher sees the same star lists.
TEST_P(RandomPoses, StackWithinATenthOfAPixel) {
    const CrowdCase &c = GetParam();
    skytest::Sky sky;
    sky.width = 384, sky.height = 288, sky.channels = 1, sky.stars = c.stars, sky.margin = c.margin, sky.rngInit = 21;
    const skytest::SkyGenerator gen(sky);
    Stacker stacker;
    ASSERT_TRUE(stacker.add(gen.shoot({}, 2.0, 1.0, 1).in()).reference);
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> shift(-60, 60), turn(-0.5, 0.5), noise(4, 10);
    int good = 0, found = 0, counted = 0;
    for (int i = 0; i < c.images; ++i) {
        const skytest::Pose pose{shift(rng), shift(rng) * 0.5, turn(rng)};
        int inFrame = 0;
        for (const auto &t : gen.stars()) {
            const auto p = skytest::SkyGenerator::place(sky, pose, t.x, t.y);
            inFrame += p.x >= 8 && p.y >= 8 && p.x < sky.width - 8 && p.y < sky.height - 8;
        }
        if (inFrame < c.fewest || inFrame > c.most) continue;
        ++counted;
        const auto &r = stacker.add(gen.shoot(pose, 2.0, 1.0, 100 + std::uint64_t(i)).in());
        if (r.stacked) {
            ++found;
            // rms of the alignment error over the frame
            const Similarity a = reported(r, sky), b = gen.truth(pose);
            double sum = 0;
            int n = 0;
            for (double y = 0; y < sky.height; y += 32)
                for (double x = 0; x < sky.width; x += 32, ++n)
                    sum += std::pow(a.mapX(x, y) - b.mapX(x, y), 2) + std::pow(a.mapY(x, y) - b.mapY(x, y), 2);
            good += std::sqrt(sum / n) < 0.15;
        }
    }
    ASSERT_GE(counted, c.images / 2);
    EXPECT_GE(good, int(std::ceil(c.share * counted))) << found << " stacked of " << counted;
}

INSTANTIATE_TEST_SUITE_P(Crowds, RandomPoses, ::testing::ValuesIn(kCrowds),
                         [](const auto &info) { return std::to_string(info.index); });

TEST(Unrelated, ThousandPairsOfFieldsNeverMatch) {
    noctil::stack::Matcher matcher;
    int matches = 0;
    for (std::uint64_t i = 0; i < 1000; ++i) {
        const auto a = skytest::randomStars(2 * i + 1, 10 + int(i % 40), 720, 576);
        const auto b = skytest::randomStars(2 * i + 2, 10 + int((i * 7) % 40), 720, 576);
        matcher.setReference(a);
        matches += matcher.match(b).matched;
    }
    EXPECT_EQ(matches, 0);
}

TEST(Unrelated, TheSameFieldMirroredDoesNotMatch) {
    auto a = skytest::randomStars(3, 30, 720, 576);
    auto b = a;
    for (auto &s : b) s.x = 720 - s.x;
    noctil::stack::Matcher matcher;
    matcher.setReference(a);
    EXPECT_TRUE(matcher.match(a).matched) << "the field itself matches";
    EXPECT_FALSE(matcher.match(b).matched) << "its mirror image does not";
}

}  // namespace
