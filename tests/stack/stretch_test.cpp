// The view of the stack: the midtone curve, the automatic levels from the
// stack's statistics, the histogram and the rendering.
#include <gtest/gtest.h>

#include <random>

#include "stack/stretch.h"

namespace {

using noctil::stack::FieldMode;
using noctil::stack::FrameFormat;
using noctil::stack::Stretcher;

struct CurveCase {
    float x, midtone, y;
};

// clang-format off
const CurveCase kCurve[] = {
    {0.0f,  0.25f, 0.0f},
    {1.0f,  0.25f, 1.0f},
    {0.25f, 0.25f, 0.5f},
    {0.5f,  0.5f,  0.5f},
    {0.1f,  0.5f,  0.1f},
    {-1.0f, 0.1f,  0.0f},
    {2.0f,  0.1f,  1.0f},
};
// clang-format on

class Curve : public ::testing::TestWithParam<CurveCase> {};

TEST_P(Curve, MapsAsTheMidtoneSays) {
    EXPECT_NEAR(noctil::stack::midtoneTransfer(GetParam().x, GetParam().midtone), GetParam().y, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Points, Curve, ::testing::ValuesIn(kCurve));

TEST(AutomaticStretch, PutsTheSkyAQuarterUpAndBlackBelowIt) {
    const FrameFormat f{100, 80, 3, FieldMode::WholeFrame};
    std::vector<float> planes(100 * 80 * 3);
    std::mt19937 rng(1);
    std::normal_distribution<float> sky(50, 2);
    for (float &v : planes) v = sky(rng);
    planes[4040] = 250;  // a star
    Stretcher s;
    s.reserve(100 * 80);
    const auto levels = s.automatic(planes, f);
    EXPECT_NEAR(levels.black, 50 - 2.8 * 2 / std::sqrt(3.0f), 0.5) << "the channels' mean is less noisy";
    EXPECT_FLOAT_EQ(levels.white, 250);
    const float x = (50 - levels.black) / (levels.white - levels.black);
    EXPECT_NEAR(noctil::stack::midtoneTransfer(x, levels.midtone), 0.25, 0.02);

    std::vector<std::uint8_t> rows(noctil::stack::dibRowBytes(100) * 80);
    s.render(planes, f, levels, rows);
    EXPECT_EQ(rows[40 * noctil::stack::dibRowBytes(100) + 3 * 40 + 2], 255)
        << "the star (row 40, x 40) is white in red";
    noctil::stack::Histogram h;
    s.histogram(planes, f, h);
    EXPECT_FLOAT_EQ(h.high, 250);
    EXPECT_EQ(h.counts[0][255], 1u);
    std::uint32_t all = 0;
    for (auto n : h.counts[2]) all += n;
    EXPECT_EQ(all, 8000u);
}

TEST(UserLevels, LinkedChannelsAndTheStackUntouched) {
    const FrameFormat f{4, 1, 3, FieldMode::WholeFrame};
    const std::vector<float> planes = {0, 10, 20, 30, /*G*/ 0, 10, 20, 30, /*B*/ 30, 20, 10, 0};
    const std::vector<float> before = planes;
    Stretcher s;
    s.reserve(4);
    std::vector<std::uint8_t> rows(noctil::stack::dibRowBytes(4));
    s.render(planes, f, {10, 20, 0.5f}, rows);
    // B, G, R per pixel: black below 10, white from 20, linear between.
    EXPECT_EQ(rows, (std::vector<std::uint8_t>{255, 0, 0, 255, 0, 0, 0, 255, 255, 0, 255, 255}));
    EXPECT_EQ(planes, before);
}

}  // namespace
