#include "stretch.h"

#include <algorithm>
#include <cmath>

namespace noctil::stack {

namespace {

constexpr std::size_t kSampleStep = 5;
constexpr float kBlackSpreads = 2.8f;
constexpr float kMedianTarget = 0.25f;

}  // namespace

float midtoneTransfer(float x, float m) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    return (m - 1) * x / ((2 * m - 1) * x - m);
}

void Stretcher::reserve(std::size_t pixels) { sample_.assign(pixels / kSampleStep + 1, 0.0f); }

StretchLevels Stretcher::automatic(std::span<const float> planes, const FrameFormat &f) {
    const std::size_t pixels = std::size_t(f.width) * f.height;
    StretchLevels levels;
    if (pixels == 0 || planes.size() < pixels * std::size_t(f.channels)) return levels;
    std::size_t n = 0;
    float least = planes[0], greatest = planes[0];
    for (float v : planes) least = std::min(least, v), greatest = std::max(greatest, v);
    for (std::size_t i = 0; i < pixels && n < sample_.size(); i += kSampleStep) {
        float sum = 0;
        for (int c = 0; c < f.channels; ++c) sum += planes[std::size_t(c) * pixels + i];
        sample_[n++] = sum / float(f.channels);
    }
    const auto median = [](std::span<float> v) {
        auto mid = v.begin() + std::ptrdiff_t((v.size() - 1) / 2);
        std::nth_element(v.begin(), mid, v.end());
        return *mid;
    };
    const std::span<float> sample(sample_.data(), n);
    const float m = median(sample);
    for (float &v : sample) v = std::fabs(v - m);
    const float spread = 1.4826f * median(sample);
    levels.black = std::max(least, m - kBlackSpreads * spread);
    levels.white = std::max(greatest, levels.black + 1e-3f);
    const float x = (m - levels.black) / (levels.white - levels.black);
    levels.midtone = std::clamp(midtoneTransfer(x, kMedianTarget), 0.001f, 0.999f);
    return levels;
}

void Stretcher::histogram(std::span<const float> planes, const FrameFormat &f, Histogram &out) const {
    const std::size_t pixels = std::size_t(f.width) * f.height;
    out = Histogram{};
    out.channels = f.channels;
    if (pixels == 0 || planes.size() < pixels * std::size_t(f.channels)) return;
    out.low = out.high = planes[0];
    for (float v : planes.first(pixels * std::size_t(f.channels)))
        out.low = std::min(out.low, v), out.high = std::max(out.high, v);
    const float span = out.high > out.low ? out.high - out.low : 1.0f;
    for (int c = 0; c < f.channels; ++c)
        for (std::size_t i = 0; i < pixels; ++i) {
            const float v = (planes[std::size_t(c) * pixels + i] - out.low) / span;
            ++out.counts[std::size_t(c)][std::min<std::size_t>(255, std::size_t(v * 256))];
        }
}

void Stretcher::render(std::span<const float> planes, const FrameFormat &f, const StretchLevels &levels,
                       std::span<std::uint8_t> rows) {
    const std::size_t pixels = std::size_t(f.width) * f.height, stride = dibRowBytes(f.width);
    if (rows.size() < stride * f.height || planes.size() < pixels * std::size_t(f.channels)) return;
    const float last = float(curve_.size() - 1);
    for (std::size_t i = 0; i < curve_.size(); ++i)
        curve_[i] = std::uint8_t(std::lround(255 * midtoneTransfer(float(i) / last, levels.midtone)));
    const float scale = levels.white > levels.black ? last / (levels.white - levels.black) : 0;
    const auto level = [&](float v) {
        const float at = std::clamp((v - levels.black) * scale, 0.0f, last);
        return curve_[std::size_t(at + 0.5f)];
    };
    for (std::uint32_t y = 0; y < f.height; ++y) {
        std::uint8_t *row = rows.data() + stride * y;
        for (std::uint32_t x = 0; x < f.width; ++x) {
            const std::size_t i = std::size_t(y) * f.width + x;
            if (f.channels == 1) {
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = level(planes[i]);
            } else {
                row[3 * x + 2] = level(planes[i]);
                row[3 * x + 1] = level(planes[pixels + i]);
                row[3 * x] = level(planes[2 * pixels + i]);
            }
        }
        std::fill(row + 3 * std::size_t(f.width), row + stride, std::uint8_t(0));
    }
}

}  // namespace noctil::stack
