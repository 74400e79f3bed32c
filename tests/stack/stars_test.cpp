// Stars found in synthetic images: every clear star, hardly a hot pixel,
// centroids and FWHM as made, on progressive and field-mode images.
#include <gtest/gtest.h>

#include <cmath>

#include "sky_generator.h"
#include "stack/stars.h"

namespace {

using noctil::stack::FieldMode;
using noctil::stack::StarFinder;

struct DetectionCase {
    const char *name;
    std::uint32_t width, height;
    int channels;
    FieldMode mode;
    double noise, fwhm;
    int hotPixels;
};

// clang-format off
const DetectionCase kDetection[] = {
    {"720x576 colour, field mode",        720, 576, 3, FieldMode::Fields,     6,  2.6, 300},
    {"640x480 grey, field mode, noisy",   640, 480, 1, FieldMode::Fields,    10,  2.6, 300},
    {"640x480 grey, quiet, soft stars",   640, 480, 1, FieldMode::Fields,     4,  4.0, 300},
    {"352x288 colour, whole frames",      352, 288, 3, FieldMode::WholeFrame, 6,  2.2, 300},
};
// clang-format on

class Detection : public ::testing::TestWithParam<DetectionCase> {};

TEST_P(Detection, FindsTheStarsNotTheHotPixels) {
    const DetectionCase &c = GetParam();
    skytest::Sky sky;
    sky.width = c.width, sky.height = c.height, sky.channels = c.channels, sky.fieldMode = c.mode;
    sky.noise = c.noise, sky.fwhm = c.fwhm, sky.hotPixels = c.hotPixels, sky.stars = 100, sky.rngInit = 7;
    const skytest::SkyGenerator gen(sky);
    const skytest::Pose pose{3.3, -2.6, 0.2};
    const skytest::Shot shot = gen.shoot(pose, 2.0, 1.0, 99);

    std::vector<float> planes(std::size_t(c.width) * c.height * std::size_t(c.channels));
    ASSERT_TRUE(noctil::stack::toPlanes(shot.in(), planes));
    std::vector<float> lum(std::size_t(c.width) * c.height);
    for (std::size_t i = 0; i < lum.size(); ++i) lum[i] = planes[i];  // the red (or grey) plane
    StarFinder finder;
    finder.reserve(c.width, c.height);
    const auto stars = finder.find(lum, c.width, c.height);

    int onHotPixel = 0, matched = 0, clear = 0, inside = 0;
    double err2 = 0;
    std::vector<float> fwhm;
    for (const auto &s : stars) {
        for (const auto &hp : gen.hotPixels())
            if (std::hypot(s.x - hp.x, s.y - hp.y) < 1.0) {
                bool starThere = false;
                for (const auto &t : gen.stars()) {
                    const auto p = skytest::SkyGenerator::place(sky, pose, t.x, t.y);
                    starThere = starThere || std::hypot(p.x - hp.x, p.y - hp.y) < 4;
                }
                onHotPixel += !starThere;
            }
    }
    for (const auto &t : gen.stars()) {
        const auto p = skytest::SkyGenerator::place(sky, pose, t.x, t.y);
        if (p.x < 8 || p.y < 8 || p.x > c.width - 9 || p.y > c.height - 9) continue;
        ++inside;
        const double peak = t.rate * 2.0 / (2 * 3.14159 * std::pow(c.fwhm / 2.35482, 2));
        const bool isClear = peak > 10 * c.noise && peak < 200;  // well above the noise, not saturated
        clear += isClear;
        for (const auto &s : stars)
            if (std::hypot(s.x - p.x, s.y - p.y) < 1.5) {
                matched += isClear;
                if (isClear) err2 += std::pow(s.x - p.x, 2) + std::pow(s.y - p.y, 2), fwhm.push_back(s.fwhm);
                break;
            }
    }
    ASSERT_GT(clear, 10) << "the field has clear stars";
    EXPECT_GE(matched, clear * 9 / 10) << "clear stars found";
    EXPECT_LE(onHotPixel * 100, int(stars.size())) << "hot pixels under 1 % of the stars found";
    EXPECT_LT(std::sqrt(err2 / matched), 0.25) << "centroid error of one star (rms, pixels)";
    std::nth_element(fwhm.begin(), fwhm.begin() + long(fwhm.size() / 2), fwhm.end());
    EXPECT_NEAR(fwhm[fwhm.size() / 2], c.fwhm, 0.25 * c.fwhm) << "median FWHM";
    EXPECT_NEAR(finder.noise(), c.noise, 0.25 * c.noise) << "noise estimate";
}

INSTANTIATE_TEST_SUITE_P(Images, Detection, ::testing::ValuesIn(kDetection),
                         [](const auto &info) { return std::to_string(info.index); });

TEST(Detection, HotPixelsAloneAreNoStars) {
    skytest::Sky sky;
    sky.stars = 0, sky.hotPixels = 300, sky.rngInit = 3;
    const skytest::SkyGenerator gen(sky);
    const skytest::Shot shot = gen.shoot({}, 2.0, 0.0, 5);
    std::vector<float> planes(std::size_t(sky.width) * sky.height * 3);
    ASSERT_TRUE(noctil::stack::toPlanes(shot.in(), planes));
    StarFinder finder;
    finder.reserve(sky.width, sky.height);
    const auto stars = finder.find(std::span(planes).first(std::size_t(sky.width) * sky.height), sky.width, sky.height);
    EXPECT_LE(stars.size(), 2u) << "of 300 hot pixels";
    EXPECT_GT(finder.rejectedPeaks(), 200) << "the hot pixels were seen and refused";
}

}  // namespace
