// The synthetic night sky the simulated camera looks at.
//
// A scene is two rate maps over the sensor, in electrons per second: the
// light (sky background, stars over a wide range of brightness, hot pixels)
// and the amplifier glow near one corner, which only builds while the
// amplifier is on. A frame turns charge into 8-bit levels: bias, gain, read
// noise, clipping. Everything is made from one sky number, so a scene and its frames
// come out the same on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace plat::avicap {

struct SkySettings {
    std::uint64_t skyNumber = 0x4E6F63746C536B79ull;
    double gain = 1.0;        // levels per electron
    double bias = 16.0;       // level of no charge
    double readNoise = 1.5;   // standard deviation in levels
};

// Charge a row of a frame collected: light for `lightSeconds`, amplifier
// glow for `glowSeconds`. A dark row has both zero.
struct RowCharge {
    double lightSeconds = 0;
    double glowSeconds = 0;
};

class Sky {
public:
    // Builds the rate maps for a sensor of `width` x `height` pixels. Star
    // positions are drawn in the unit square, so every size shows the same sky.
    void build(int width, int height, const SkySettings &settings);

    int width() const { return width_; }
    int height() const { return height_; }
    float light(int x, int y) const { return light_[index(x, y)]; }
    float glow(int x, int y) const { return glow_[index(x, y)]; }

    // Levels of scene row `y` for the given charge, one byte per pixel into
    // `out` (width() bytes). `noise` is the frame's generator state, advanced.
    void renderRow(int y, RowCharge charge, std::uint64_t &noise, std::span<std::uint8_t> out) const;

    // Number of stars and hot pixels placed (for checks of the scene).
    std::size_t starCount() const { return starCount_; }
    std::size_t hotPixelCount() const { return hotPixelCount_; }

    static constexpr int kStars = 400;
    static constexpr int kHotPixels = 12;

private:
    std::size_t index(int x, int y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }

    int width_ = 0, height_ = 0;
    SkySettings settings_;
    std::vector<float> light_, glow_;
    std::size_t starCount_ = 0, hotPixelCount_ = 0;
};

// A 64-bit generator step (splitmix64): good spread from consecutive starting values.
std::uint64_t nextRandom(std::uint64_t &state);

}  // namespace plat::avicap
