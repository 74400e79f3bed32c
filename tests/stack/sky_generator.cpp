#include "sky_generator.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace skytest {

using noctil::stack::dibRowBytes;
using noctil::stack::FieldMode;
using noctil::stack::ImageIn;
using noctil::stack::PointPair;
using noctil::stack::Similarity;

namespace {
constexpr double kPi = 3.14159265358979323846;
// The colour of the stars and the sky per channel (R, G, B).
constexpr double kTint[3] = {1.0, 0.85, 0.7};
}  // namespace

ImageIn Shot::in() const {
    ImageIn i;
    i.format = format;
    i.rows = rows;
    i.exposureS = exposureS;
    i.ampOffS = ampOffS;
    i.number = number;
    i.startUtc = std::int64_t(number) * 20'000'000;
    i.endUtc = *i.startUtc + std::int64_t(exposureS * 1e6);
    return i;
}

SkyGenerator::SkyGenerator(const Sky &sky) : sky_(sky) {
    std::mt19937_64 rng(sky.rngInit);
    std::uniform_real_distribution<double> ux(-sky.margin, sky.width + sky.margin - 1),
        uy(-sky.margin, sky.height + sky.margin - 1);
    std::uniform_real_distribution<double> u01(0, 1);
    // Star positions apart from each other by 8 pixels, fluxes log-uniform.
    while (int(stars_.size()) < sky.stars) {
        const double x = ux(rng), y = uy(rng);
        bool apart = true;
        for (const TrueStar &s : stars_) apart = apart && std::hypot(s.x - x, s.y - y) > 8;
        const double rate = sky.faintest * std::pow(sky.brightest / sky.faintest, u01(rng));
        if (apart) stars_.push_back({x, y, rate});
    }
    std::uniform_int_distribution<std::uint32_t> hx(0, sky.width - 1), hy(0, sky.height - 1);
    for (int i = 0; i < sky.hotPixels; ++i) hot_.push_back({hx(rng), hy(rng), 20 + 200 * u01(rng)});
}

PointPair SkyGenerator::place(const Sky &sky, const Pose &pose, double x, double y) {
    const double cx = 0.5 * (sky.width - 1), cy = 0.5 * (sky.height - 1);
    const double a = pose.degrees * kPi / 180, c = std::cos(a), s = std::sin(a);
    return {c * (x - cx) - s * (y - cy) + cx + pose.dx, s * (x - cx) + c * (y - cy) + cy + pose.dy, x, y};
}

Similarity SkyGenerator::truth(const Pose &pose) const {
    // The inverse of `place`: rotate back by the angle about the drifted centre.
    const double cx = 0.5 * (sky_.width - 1), cy = 0.5 * (sky_.height - 1);
    const double a = -pose.degrees * kPi / 180;
    Similarity t{std::cos(a), std::sin(a), 0, 0};
    const double ox = cx + pose.dx, oy = cy + pose.dy;
    t.tx = cx - (t.c * ox - t.s * oy);
    t.ty = cy - (t.s * ox + t.c * oy);
    return t;
}

Shot SkyGenerator::render(const Pose *pose, double exposureS, double ampOffS, std::uint64_t noiseSeed,
                          const std::optional<Trail> &trail, double extraSky) const {
    const std::uint32_t w = sky_.width, h = sky_.height;
    const int channels = sky_.channels;
    std::vector<double> light(std::size_t(w) * h, 0.0);
    const double onTime = exposureS - ampOffS;
    // Sky and amplifier glow (from the bottom-left corner), in counts.
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x) {
            const double r = std::hypot(double(x), double(y));
            light[std::size_t(y) * w + x] =
                (pose ? (sky_.background + extraSky) * exposureS : 0) + sky_.glow * onTime * std::exp(-r / 90);
        }
    if (pose) {
        const double sigma = sky_.fwhm / 2.35482;
        for (const TrueStar &s : stars_) {
            const PointPair p = place(sky_, *pose, s.x, s.y);
            const double flux = s.rate * exposureS;
            const int x0 = int(std::floor(p.x - 5 * sigma)), x1 = int(std::ceil(p.x + 5 * sigma));
            const int y0 = int(std::floor(p.y - 5 * sigma)), y1 = int(std::ceil(p.y + 5 * sigma));
            for (int y = std::max(0, y0); y <= std::min(int(h) - 1, y1); ++y)
                for (int x = std::max(0, x0); x <= std::min(int(w) - 1, x1); ++x) {
                    const double d2 = (x - p.x) * (x - p.x) + (y - p.y) * (y - p.y);
                    light[std::size_t(y) * w + std::size_t(x)] +=
                        flux / (2 * kPi * sigma * sigma) * std::exp(-d2 / (2 * sigma * sigma));
                }
        }
        if (trail) {
            const double len = std::hypot(trail->x1 - trail->x0, trail->y1 - trail->y0);
            for (int i = 0; i <= int(len); ++i) {
                const double x = trail->x0 + (trail->x1 - trail->x0) * i / len,
                             y = trail->y0 + (trail->y1 - trail->y0) * i / len;
                if (x >= 0 && y >= 0 && x < w && y < h)
                    light[std::size_t(y) * w + std::size_t(x)] =
                        std::max(light[std::size_t(y) * w + std::size_t(x)],
                                 (sky_.background + extraSky) * exposureS + trail->sigmas * sky_.noise);
            }
        }
    }
    for (const HotPixel &hp : hot_) light[std::size_t(hp.y) * w + hp.x] += hp.rate * exposureS;

    Shot shot;
    shot.format = {w, h, channels, sky_.fieldMode};
    shot.exposureS = exposureS;
    shot.ampOffS = ampOffS;
    const std::size_t stride = dibRowBytes(w);
    shot.rows.assign(stride * h, 0);
    std::mt19937_64 rng(noiseSeed);
    std::normal_distribution<double> noise(0, sky_.noise);
    for (std::uint32_t y = 0; y < h; ++y) {
        const double field = sky_.fieldMode == FieldMode::Fields && (y & 1) ? sky_.fieldOffset : 0;
        for (std::uint32_t x = 0; x < w; ++x) {
            const double v = light[std::size_t(y) * w + x];
            double level[3];
            for (int c = 0; c < 3; ++c) {
                const double tint = channels == 1 ? 1.0 : kTint[c];
                level[c] = channels == 1 && c > 0 ? level[0] : sky_.pedestal + field + v * tint + noise(rng);
            }
            std::uint8_t *p = shot.rows.data() + stride * y + 3 * x;
            for (int c = 0; c < 3; ++c) p[2 - c] = std::uint8_t(std::clamp(std::lround(level[c]), 0L, 255L));
        }
    }
    return shot;
}

Shot SkyGenerator::shoot(const Pose &pose, double exposureS, double ampOffS, std::uint64_t noiseSeed,
                         const std::optional<Trail> &trail, double extraSky) const {
    return render(&pose, exposureS, ampOffS, noiseSeed, trail, extraSky);
}

Shot SkyGenerator::dark(double exposureS, double ampOffS, std::uint64_t noiseSeed) const {
    return render(nullptr, exposureS, ampOffS, noiseSeed, std::nullopt, 0);
}

Shot SkyGenerator::flat(std::uint8_t value) const {
    Shot shot;
    shot.format = {sky_.width, sky_.height, sky_.channels, sky_.fieldMode};
    shot.exposureS = 2;
    shot.rows.assign(dibRowBytes(sky_.width) * sky_.height, value);
    return shot;
}

std::vector<noctil::stack::Star> randomStars(std::uint64_t rngInit, int count, double width, double height) {
    std::mt19937_64 rng(rngInit);
    std::uniform_real_distribution<double> ux(0, width), uy(0, height), uf(100, 10000);
    std::vector<noctil::stack::Star> stars;
    for (int i = 0; i < count; ++i) stars.push_back({float(ux(rng)), float(uy(rng)), float(uf(rng)), 50, 2.5f});
    std::sort(stars.begin(), stars.end(), [](const auto &a, const auto &b) { return a.flux > b.flux; });
    return stars;
}

}  // namespace skytest
