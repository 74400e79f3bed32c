// The simulated camera's row arithmetic: rounding and clipping of noisy
// levels, the pixel layouts of its two formats, and the read noise a dark
// frame shows. Widths cross the 16-pixel blocks the vector code works in, so
// a wrong tail or shuffle shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "avicap/grey_rows.h"
#include "avicap/sky.h"

namespace {

using plat::avicap::addNoiseAndRound;
using plat::avicap::addNoiseToLevelAndRound;
using plat::avicap::greyToRgb24;
using plat::avicap::greyToYuy2;

constexpr std::uint8_t kGuard = 0xA5;

TEST(GreyRowsTest, NoisyLevelsRoundToTheNearestLevelAndClip) {
    // Fine levels are 1/64 of a level. Exactly halfway rounds up on even
    // pixels and down on odd ones, so the mean level stays true.
    struct Case {
        const char *what;
        std::int16_t fine, noise;
        std::uint8_t even, odd;
    };
    const Case cases[] = {
        {"a whole level", 16 * 64, 0, 16, 16},     {"noise adds", 16 * 64, 3 * 64, 19, 19},
        {"noise takes", 16 * 64, -5 * 64, 11, 11}, {"just under half", 16 * 64 + 31, 0, 16, 16},
        {"exactly half", 16 * 64 + 32, 0, 17, 16}, {"just over half", 16 * 64 + 33, 0, 17, 17},
        {"below black", 2 * 64, -6 * 64, 0, 0},    {"above white", 270 * 64, 5 * 64, 255, 255},
        {"white itself", 255 * 64, 0, 255, 255},   {"half above white", 255 * 64 + 40, 0, 255, 255},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (int width : {1, 2, 15, 16, 17, 33, 640}) {
            std::vector<std::int16_t> fine(static_cast<std::size_t>(width), c.fine), noise(fine.size(), c.noise);
            std::vector<std::uint8_t> out(fine.size() + 1, kGuard);
            addNoiseAndRound(fine.data(), noise.data(), width, out.data());
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(out[static_cast<std::size_t>(x)], x % 2 ? c.odd : c.even) << "pixel " << x << " of " << width;
            EXPECT_EQ(out.back(), kGuard) << "nothing written past the row, width " << width;
            // A row of one level drawn from that level alone comes out the same.
            std::vector<std::uint8_t> uniform(fine.size() + 1, kGuard);
            addNoiseToLevelAndRound(c.fine, noise.data(), width, uniform.data());
            EXPECT_EQ(uniform, out) << "width " << width;
        }
    }
}

TEST(GreyRowsTest, EachPixelOfTheRowHasItsOwnLevel) {
    for (int width : {1, 3, 4, 15, 16, 17, 31, 32, 47, 48, 320, 641}) {
        SCOPED_TRACE(width);
        std::vector<std::uint8_t> levels(static_cast<std::size_t>(width));
        for (int x = 0; x < width; ++x) levels[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(x * 7 + 1);

        std::vector<std::uint8_t> rgb(3 * levels.size() + 4, kGuard);
        greyToRgb24(levels.data(), width, rgb.data());
        std::vector<std::uint8_t> yuy2(2 * levels.size() + 4, kGuard);
        greyToYuy2(levels.data(), width, yuy2.data());
        for (std::size_t x = 0; x < levels.size(); ++x) {
            ASSERT_EQ(rgb[3 * x], levels[x]) << "blue of pixel " << x;
            ASSERT_EQ(rgb[3 * x + 1], levels[x]) << "green of pixel " << x;
            ASSERT_EQ(rgb[3 * x + 2], levels[x]) << "red of pixel " << x;
            ASSERT_EQ(yuy2[2 * x], levels[x]) << "luminance of pixel " << x;
            ASSERT_EQ(yuy2[2 * x + 1], 0x80) << "colour difference of pixel " << x;
        }
        for (std::size_t i = 3 * levels.size(); i < rgb.size(); ++i) EXPECT_EQ(rgb[i], kGuard) << "past the RGB row";
        for (std::size_t i = 2 * levels.size(); i < yuy2.size(); ++i) EXPECT_EQ(yuy2[i], kGuard) << "past the YUY2 row";
    }
}

TEST(GreyRowsTest, ADarkFrameIsTheBiasWithTheReadNoise) {
    plat::avicap::SkySettings settings;
    plat::avicap::Sky sky;
    sky.build(640, 480, settings);
    std::vector<plat::avicap::FineLevel> fine(640 * 480);
    sky.chargeLevels({}, fine);
    std::vector<std::uint8_t> row(640);
    std::uint64_t noise = 1;
    double sum = 0, squares = 0, n = 0;
    std::vector<std::uint8_t> firstRow;
    for (int y = 0; y < 480; ++y) {
        sky.renderRow(fine.data() + y * 640, noise, row.data());
        if (y == 0) firstRow = row;
        for (std::uint8_t level : row) {
            sum += level;
            squares += static_cast<double>(level) * level;
            ++n;
        }
    }
    const double mean = sum / n, deviation = std::sqrt(squares / n - mean * mean);
    EXPECT_NEAR(mean, settings.bias, 0.005) << "noise neither lifts nor lowers the dark level";
    // Rounding to whole levels adds 1/12 of a level squared to the variance.
    EXPECT_NEAR(deviation, std::sqrt(settings.readNoise * settings.readNoise + 1.0 / 12), 0.05);
    sky.renderRow(fine.data(), noise, row.data());
    EXPECT_NE(row, firstRow) << "the same row drawn again has other noise";

    // Drawn from the bias alone, with the same noise, every row is the same.
    std::uint64_t general = 7, uniform = 7;
    std::vector<std::uint8_t> expected(640);
    for (int y = 0; y < 480; ++y) {
        sky.renderRow(fine.data() + y * 640, general, expected.data());
        sky.renderUniformRow(fine.front(), uniform, row.data());
        ASSERT_EQ(row, expected) << "row " << y;
    }
}

TEST(GreyRowsTest, ChargeLevelsFollowTheRateMaps) {
    plat::avicap::SkySettings settings;
    settings.gain = 2.0;
    plat::avicap::Sky sky;
    sky.build(320, 240, settings);
    std::vector<plat::avicap::FineLevel> fine(320 * 240);
    const plat::avicap::RowCharge charge{3.0, 0.5};
    sky.chargeLevels(charge, fine);
    int checked = 0;
    for (int y = 0; y < 240; y += 7)
        for (int x = 0; x < 320; x += 5) {
            const double level = settings.bias + settings.gain * (sky.light(x, y) * charge.lightSeconds +
                                                                  sky.glow(x, y) * charge.glowSeconds);
            const double expected = std::min(level, 270.0) * 64;
            ASSERT_NEAR(fine[static_cast<std::size_t>(y * 320 + x)], expected, 1.0) << x << "," << y;
            ++checked;
        }
    EXPECT_GT(checked, 1000);
}

}  // namespace
