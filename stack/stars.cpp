#include "stars.h"

#include <algorithm>
#include <cmath>

namespace noctil::stack {

namespace {

constexpr std::uint32_t kCell = 32;       // background mesh cell, pixels
constexpr std::uint32_t kSampleStep = 7;  // every 7th pixel estimates the noise
constexpr std::size_t kMostPeaks = 4096;  // peaks looked at per image
constexpr int kRadius = 4;                // measuring window of a star
constexpr int kEdge = kRadius + 2;        // peaks this close to an edge are not measured
constexpr float kSideShare = 0.25f;       // a star's neighbours hold this share of its peak, both ways
constexpr float kMostSharpness = 3.0f;    // peak over smoothed peak
constexpr float kMinAxisRatio = 0.5f;     // rounder than a trail
constexpr float kMinSeparation2 = 3.0f * 3.0f;
constexpr float kFwhmPerSigma = 2.35482f;
constexpr float kTwoPi = 6.2831853f;

// The median of `v` (which it reorders); the lower middle value for an even count.
float median(std::span<float> v) {
    if (v.empty()) return 0;
    auto mid = v.begin() + (v.size() - 1) / 2;
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// The pixel noise of `plane` from the median absolute deviation of a sample.
float robustSigma(std::span<const float> plane, std::vector<float> &scratch, float floor) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < plane.size(); i += kSampleStep) scratch[n++] = plane[i];
    const std::span<float> sample(scratch.data(), n);
    const float m = median(sample);
    for (float &v : sample) v = std::fabs(v - m);
    return std::max(floor, 1.4826f * median(sample));
}

}  // namespace

void StarFinder::reserve(std::uint32_t width, std::uint32_t height) {
    const std::size_t pixels = std::size_t(width) * height;
    residual_.assign(pixels, 0.0f);
    smooth_.assign(pixels, 0.0f);
    scratch_.assign(std::max<std::size_t>(pixels / kSampleStep + 1, kCell * kCell), 0.0f);
    meshW_ = (width + kCell - 1) / kCell;
    meshH_ = (height + kCell - 1) / kCell;
    mesh_.assign(std::size_t(meshW_) * meshH_ * 2, 0.0f);
    peaks_.reserve(kMostPeaks);
    stars_.reserve(kMostPeaks);
    fwhms_.reserve(kMostPeaks);
}

// The background as a mesh of cell medians, one for the odd rows and one for
// the even rows of each cell: the two fields of a field-mode image come from
// two readout passes and need not sit at the same level.
void StarFinder::estimateBackground(std::span<const float> plane, std::uint32_t w, std::uint32_t h) {
    const std::uint32_t mw = (w + kCell - 1) / kCell, mh = (h + kCell - 1) / kCell;
    for (std::uint32_t cy = 0; cy < mh; ++cy)
        for (std::uint32_t cx = 0; cx < mw; ++cx)
            for (std::uint32_t parity = 0; parity < 2; ++parity) {
                std::size_t n = 0;
                const std::uint32_t x1 = std::min(w, (cx + 1) * kCell), y1 = std::min(h, (cy + 1) * kCell);
                for (std::uint32_t y = cy * kCell + parity; y < y1; y += 2)
                    for (std::uint32_t x = cx * kCell; x < x1; ++x) scratch_[n++] = plane[std::size_t(y) * w + x];
                mesh_[(std::size_t(cy) * mw + cx) * 2 + parity] = median({scratch_.data(), n});
            }
    // The residual: the plane less the mesh, interpolated between cell centres.
    for (std::uint32_t y = 0; y < h; ++y) {
        const float fy = std::clamp((float(y) + 0.5f) / kCell - 0.5f, 0.0f, float(mh - 1));
        const std::uint32_t y0 = std::uint32_t(fy), y1 = std::min(y0 + 1, mh - 1);
        const float ty = fy - float(y0);
        const std::uint32_t parity = y & 1;
        for (std::uint32_t x = 0; x < w; ++x) {
            const float fx = std::clamp((float(x) + 0.5f) / kCell - 0.5f, 0.0f, float(mw - 1));
            const std::uint32_t x0 = std::uint32_t(fx), x1 = std::min(x0 + 1, mw - 1);
            const float tx = fx - float(x0);
            const auto at = [&](std::uint32_t cx, std::uint32_t cy) {
                return mesh_[(std::size_t(cy) * mw + cx) * 2 + parity];
            };
            const float bottom = at(x0, y0) + tx * (at(x1, y0) - at(x0, y0));
            const float top = at(x0, y1) + tx * (at(x1, y1) - at(x0, y1));
            const std::size_t i = std::size_t(y) * w + x;
            residual_[i] = plane[i] - (bottom + ty * (top - bottom));
        }
    }
    const std::size_t cells = std::size_t(mw) * mh * 2;
    std::copy_n(mesh_.begin(), cells, scratch_.begin());
    background_ = median({scratch_.data(), cells});
}

// Centroid, flux, peak and FWHM of the star whose brightest pixel is near
// `p`; false for what is not a star: a single hot pixel, a line of analog
// noise one row high, a trail.
bool StarFinder::measure(const Peak &p, std::uint32_t w, std::uint32_t h, Star &out) const {
    const auto r = [&](int x, int y) { return residual_[std::size_t(y) * w + std::size_t(x)]; };
    int mx = int(p.x), my = int(p.y);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (r(int(p.x) + dx, int(p.y) + dy) > r(mx, my)) mx = int(p.x) + dx, my = int(p.y) + dy;
    const float c = r(mx, my);
    if (c <= 0) return false;
    const float across = 0.5f * (r(mx - 1, my) + r(mx + 1, my));
    const float up = 0.5f * (r(mx, my - 1) + r(mx, my + 1));
    if (across < kSideShare * c || up < kSideShare * c) return false;
    // A lone pixel keeps a quarter of its height through the smoothing; a
    // star, even a sharp one, more than a third.
    if (c > kMostSharpness * smooth_[std::size_t(my) * w + std::size_t(mx)]) return false;

    // Centroid by moments under a smooth taper, re-centred twice: a taper of
    // polynomial shape needs no exp(), whose last bit differs between C libraries.
    const float r2max = float((kRadius + 0.5) * (kRadius + 0.5));
    float cx = float(mx), cy = float(my);
    for (int pass = 0; pass < 3; ++pass) {
        const int ix = std::clamp(int(std::lround(cx)), kEdge - 1, int(w) - kEdge);
        const int iy = std::clamp(int(std::lround(cy)), kEdge - 1, int(h) - kEdge);
        double sw = 0, sx = 0, sy = 0;
        for (int dy = -kRadius; dy <= kRadius; ++dy)
            for (int dx = -kRadius; dx <= kRadius; ++dx) {
                const float ex = float(ix + dx) - cx, ey = float(iy + dy) - cy;
                const float d2 = ex * ex + ey * ey;
                if (d2 >= r2max) continue;
                const float taper = (1 - d2 / r2max) * (1 - d2 / r2max);
                const double wgt = double(std::max(0.0f, r(ix + dx, iy + dy))) * taper;
                sw += wgt, sx += wgt * ex, sy += wgt * ey;
            }
        if (sw <= 0) return false;
        cx += float(sx / sw), cy += float(sy / sw);
        if (std::fabs(cx - float(mx)) > 2 || std::fabs(cy - float(my)) > 2) return false;
    }

    // Flux and shape within the window, about the centroid.
    const int ix = std::clamp(int(std::lround(cx)), kEdge - 1, int(w) - kEdge);
    const int iy = std::clamp(int(std::lround(cy)), kEdge - 1, int(h) - kEdge);
    double flux = 0, sw = 0, mxx = 0, myy = 0, mxy = 0;
    for (int dy = -kRadius; dy <= kRadius; ++dy)
        for (int dx = -kRadius; dx <= kRadius; ++dx) {
            const float ex = float(ix + dx) - cx, ey = float(iy + dy) - cy;
            if (ex * ex + ey * ey >= r2max) continue;
            const float v = r(ix + dx, iy + dy);
            flux += v;
            if (v <= 0) continue;
            sw += v, mxx += v * ex * ex, myy += v * ey * ey, mxy += v * ex * ey;
        }
    if (flux <= 0 || sw <= 0) return false;
    mxx /= sw, myy /= sw, mxy /= sw;
    const double half = 0.5 * (mxx + myy), spread = std::sqrt(0.25 * (mxx - myy) * (mxx - myy) + mxy * mxy);
    if (half - spread < double(kMinAxisRatio * kMinAxisRatio) * (half + spread)) return false;

    out.x = cx, out.y = cy, out.flux = float(flux), out.peak = c;
    out.fwhm = kFwhmPerSigma * std::sqrt(float(flux) / (kTwoPi * c));
    return out.fwhm > 0.7f && out.fwhm < 20.0f;
}

std::span<const Star> StarFinder::find(std::span<const float> plane, std::uint32_t w, std::uint32_t h,
                                       const StarSearch &search) {
    stars_.clear();
    peaks_.clear();
    rejected_ = 0;
    const std::size_t pixels = std::size_t(w) * h;
    if (w < 4 * kEdge || h < 4 * kEdge || pixels > residual_.size() || plane.size() < pixels) return {};

    estimateBackground(plane, w, h);
    const std::span<const float> residual(residual_.data(), pixels);
    noise_ = robustSigma(residual, scratch_, 0.5f);

    // Binomial 3x3 smoothing: a star keeps most of its height, a hot pixel a quarter.
    for (std::uint32_t y = 1; y + 1 < h; ++y)
        for (std::uint32_t x = 1; x + 1 < w; ++x) {
            const float *a = &residual_[std::size_t(y - 1) * w + x], *b = a + w, *c = b + w;
            smooth_[std::size_t(y) * w + x] =
                (a[-1] + 2 * a[0] + a[1] + 2 * (b[-1] + 2 * b[0] + b[1]) + c[-1] + 2 * c[0] + c[1]) * (1.0f / 16);
        }
    const float threshold = search.kSigma * 0.375f * noise_;  // the smoothing's noise gain

    // Local maxima over 5x5; of equal values the first in scan order wins.
    for (std::uint32_t y = kEdge; y + kEdge < h; ++y)
        for (std::uint32_t x = kEdge; x + kEdge < w; ++x) {
            const std::size_t i = std::size_t(y) * w + x;
            const float s = smooth_[i];
            if (s <= threshold) continue;
            bool highest = true;
            for (int dy = -2; dy <= 2 && highest; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const std::ptrdiff_t j = std::ptrdiff_t(i) + dy * std::ptrdiff_t(w) + dx;
                    const float n = smooth_[std::size_t(j)];
                    if (n > s || (n == s && j < std::ptrdiff_t(i))) {
                        highest = false;
                        break;
                    }
                }
            if (highest && peaks_.size() < kMostPeaks) peaks_.push_back({x, y, s});
        }
    std::sort(peaks_.begin(), peaks_.end(), [](const Peak &a, const Peak &b) {
        return a.height != b.height ? a.height > b.height : (a.y != b.y ? a.y < b.y : a.x < b.x);
    });

    for (const Peak &p : peaks_) {
        Star s;
        if (!measure(p, w, h, s)) {
            ++rejected_;
            continue;
        }
        bool apart = true;
        for (const Star &k : stars_)
            if ((k.x - s.x) * (k.x - s.x) + (k.y - s.y) * (k.y - s.y) < kMinSeparation2) apart = false;
        if (apart) stars_.push_back(s);
    }
    std::sort(stars_.begin(), stars_.end(), [](const Star &a, const Star &b) {
        return a.flux != b.flux ? a.flux > b.flux : (a.y != b.y ? a.y < b.y : a.x < b.x);
    });
    if (stars_.size() > std::size_t(search.maxStars)) stars_.resize(std::size_t(search.maxStars));
    return stars_;
}

float StarFinder::medianFwhm() {
    fwhms_.clear();
    for (const Star &s : stars_) fwhms_.push_back(s.fwhm);
    return median(fwhms_);
}

}  // namespace noctil::stack
