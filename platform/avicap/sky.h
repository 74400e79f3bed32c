// The synthetic night sky the simulated camera looks at.
//
// A scene is two rate maps over the sensor, in electrons per second: the
// light (sky background, stars over a wide range of brightness, hot pixels)
// and the amplifier glow near one corner, which only builds while the
// amplifier is on. A frame turns charge into 8-bit levels: bias, gain, read
// noise, clipping. Everything is made from one sky number, so a scene and its frames
// come out the same on every run.
//
// A video camera renders some thirty frames a second, nearly all of them
// with one of a few charges (live video, a dark sensor), so a frame is made
// in two steps: the noise-free levels of a charge in 1/64 level (computed
// once per charge and kept by the camera), then per row, in 16-bit integers,
// those levels plus a window of a precomputed noise table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace plat::avicap {

struct SkySettings {
    std::uint64_t skyNumber = 0x4E6F63746C536B79ull;
    double gain = 1.0;       // levels per electron
    double bias = 16.0;      // level of no charge
    double readNoise = 1.5;  // standard deviation in levels
};

// Charge a row of a frame collected: light for `lightSeconds`, amplifier
// glow for `glowSeconds`. A dark row has both zero.
struct RowCharge {
    double lightSeconds = 0;
    double glowSeconds = 0;
    bool operator==(const RowCharge &) const = default;
};

// Levels in 1/64 of an 8-bit level, bias included: what a charge makes of
// each pixel before read noise.
using FineLevel = std::int16_t;
inline constexpr int kFineLevelShift = 6;

class Sky {
public:
    // Builds the rate maps for a sensor of `width` x `height` pixels. Star
    // positions are drawn in the unit square, so every size shows the same sky.
    void build(int width, int height, const SkySettings &settings);

    int width() const { return width_; }
    int height() const { return height_; }
    float light(int x, int y) const { return light_[index(x, y)]; }
    float glow(int x, int y) const { return glow_[index(x, y)]; }

    // The noise-free levels of the whole scene for `charge`, row by row
    // (width() x height() entries into `out`).
    void chargeLevels(RowCharge charge, std::span<FineLevel> out) const;

    // One row's 8-bit levels: `fine` (a row of chargeLevels) plus read noise,
    // rounded and clipped, into `out` (both at least width() entries).
    // `noise` is the frame's generator state, advanced.
    void renderRow(const FineLevel *fine, std::uint64_t &noise, std::uint8_t *out) const;

    // The same for a row whose levels are all `fine`; the noise drawn is the
    // same as renderRow's, so the result is too.
    void renderUniformRow(FineLevel fine, std::uint64_t &noise, std::uint8_t *out) const;

    // Number of stars and hot pixels placed (for checks of the scene).
    std::size_t starCount() const { return starCount_; }
    std::size_t hotPixelCount() const { return hotPixelCount_; }

    static constexpr int kStars = 400;
    static constexpr int kHotPixels = 12;

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }

    void buildNoise();

    int width_ = 0, height_ = 0;
    SkySettings settings_;
    std::vector<float> light_, glow_;
    // Read noise in 1/64 level, a row's worth longer than the window range,
    // so any window of a row's length lies inside.
    std::vector<FineLevel> noise_;
    std::size_t starCount_ = 0, hotPixelCount_ = 0;
};

// A 64-bit generator step (splitmix64): good spread from consecutive starting values.
std::uint64_t nextRandom(std::uint64_t &state);

}  // namespace plat::avicap
