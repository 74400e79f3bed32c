#include "avicap/sky.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "avicap/grey_rows.h"

namespace plat::avicap {

namespace {

double unitRandom(std::uint64_t &state) { return static_cast<double>(nextRandom(state) >> 11) * 0x1.0p-53; }

// Total rate of a star of magnitude 0, electrons per second. Magnitude 9,
// the faintest placed, gives a few electrons per second: lost in live video,
// plain after a few seconds of integration.
constexpr double kMagnitudeZeroRate = 40000.0;
constexpr double kFaintestMagnitude = 9.0;
constexpr int kBrightStars = 4;       // magnitudes 0, 0.5, 1 and 1.5
constexpr double kSkyRate = 3.0;      // background at the top of the scene
constexpr double kSkyGradient = 1.5;  // extra background towards the bottom
constexpr double kGlowRate = 40.0;    // at the glowing corner
constexpr double kGlowReach = 0.12;   // fall-off length, fraction of the width

// Noise windows a row can start at. A frame field's mean stays as steady as
// with noise drawn afresh for every pixel only while a field (some 150,000
// pixels) uses a small part of the table.
constexpr std::size_t kNoiseWindows = std::size_t{1} << 20;
// A charge this bright clips to 255 whatever the read noise adds or takes.
constexpr FineLevel kSaturatedFine = 270 << kFineLevelShift;

}  // namespace

std::uint64_t nextRandom(std::uint64_t &state) {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

void Sky::build(int width, int height, const SkySettings &settings) {
    width_ = std::max(width, 1);
    height_ = std::max(height, 1);
    settings_ = settings;
    const std::size_t pixels = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
    light_.assign(pixels, 0.0f);
    glow_.assign(pixels, 0.0f);

    for (int y = 0; y < height_; ++y) {
        const float sky = static_cast<float>(kSkyRate + kSkyGradient * y / height_);
        std::fill_n(light_.begin() + static_cast<std::ptrdiff_t>(index(0, y)), width_, sky);
    }

    std::uint64_t state = settings.skyNumber;
    // Point spread: a little over a pixel at 640 columns, never below the
    // size that keeps a star more than one pixel wide.
    const double sigma = std::max(0.6, 0.9 * width_ / 640.0);
    const int reach = static_cast<int>(std::ceil(3 * sigma));
    const double norm = 1.0 / (2 * std::numbers::pi * sigma * sigma);
    starCount_ = 0;
    for (int s = 0; s < kStars; ++s) {
        const double cx = unitRandom(state) * width_;
        const double cy = unitRandom(state) * height_;
        // Faint stars are the many: magnitudes crowd towards the faint end.
        // The first few are bright, so that live video always shows stars.
        const double drawn = kFaintestMagnitude * std::pow(unitRandom(state), 0.4);
        const double magnitude = s < kBrightStars ? 0.5 * s : drawn;
        const double rate = kMagnitudeZeroRate * std::pow(10.0, -0.4 * magnitude);
        const int x0 = static_cast<int>(cx), y0 = static_cast<int>(cy);
        for (int y = std::max(0, y0 - reach); y <= std::min(height_ - 1, y0 + reach); ++y)
            for (int x = std::max(0, x0 - reach); x <= std::min(width_ - 1, x0 + reach); ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                light_[index(x, y)] +=
                    static_cast<float>(rate * norm * std::exp(-(dx * dx + dy * dy) / (2 * sigma * sigma)));
            }
        ++starCount_;
    }

    hotPixelCount_ = 0;
    for (int h = 0; h < kHotPixels; ++h) {
        const int x = std::min(width_ - 1, static_cast<int>(unitRandom(state) * width_));
        const int y = std::min(height_ - 1, static_cast<int>(unitRandom(state) * height_));
        light_[index(x, y)] += static_cast<float>(300.0 + 2700.0 * unitRandom(state));
        ++hotPixelCount_;
    }

    // The output amplifier sits by the last corner of the sensor.
    const double glowLength = kGlowReach * width_;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const double d = std::hypot(width_ - 1 - x, height_ - 1 - y);
            glow_[index(x, y)] = static_cast<float>(kGlowRate * std::exp(-d / glowLength));
        }
    buildNoise();
}

void Sky::buildNoise() {
    // The sum of four uniform bytes is near enough Gaussian; its standard
    // deviation is 147.8, scaled here to the read noise.
    const double scale = settings_.readNoise / 147.8 * (1 << kFineLevelShift);
    std::uint64_t state = settings_.skyNumber ^ 0x6E6F697365ull;
    noise_.resize(kNoiseWindows + static_cast<std::size_t>(width_));
    for (std::size_t i = 0; i < noise_.size(); i += 2) {
        const std::uint64_t bits = nextRandom(state);
        for (std::size_t half = 0; half < 2 && i + half < noise_.size(); ++half) {
            const auto r = static_cast<std::uint32_t>(bits >> (half * 32));
            const int sum = static_cast<int>((r & 0xFF) + ((r >> 8) & 0xFF) + ((r >> 16) & 0xFF) + (r >> 24)) - 510;
            noise_[i + half] = static_cast<FineLevel>(std::lround(sum * scale));
        }
    }
}

void Sky::chargeLevels(RowCharge charge, std::span<FineLevel> out) const {
    const double fine = settings_.gain * (1 << kFineLevelShift);
    fineLevels(light_.data(), glow_.data(), static_cast<float>(charge.lightSeconds * fine),
               static_cast<float>(charge.glowSeconds * fine),
               static_cast<float>(settings_.bias * (1 << kFineLevelShift)), kSaturatedFine,
               std::min(out.size(), light_.size()), out.data());
}

void Sky::renderRow(const FineLevel *fine, std::uint64_t &noise, std::uint8_t *out) const {
    addNoiseAndRound(fine, noise_.data() + nextRandom(noise) % kNoiseWindows, width_, out);
}

void Sky::renderUniformRow(FineLevel fine, std::uint64_t &noise, std::uint8_t *out) const {
    addNoiseToLevelAndRound(fine, noise_.data() + nextRandom(noise) % kNoiseWindows, width_, out);
}

}  // namespace plat::avicap
