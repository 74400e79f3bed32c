#include "match.h"

#include <algorithm>
#include <cmath>

namespace noctil::stack {

namespace {

constexpr std::size_t kMatchStars = 40;               // brightest stars compared
constexpr std::size_t kTriangleStars = 15;            // brightest stars that make triangles
constexpr float kSideTolerance = 1.5f;                // pixels between equal sides
constexpr float kShortestSide = 12.0f;                // shorter sides fix the rotation too poorly
constexpr float kDistinctSides = 2 * kSideTolerance;  // so that corners cannot be confused
constexpr double kAgreeRadius = 2.0;                  // a star agrees within this distance
constexpr int kMinPairs = 5;                          // never fewer stars to call it a match
constexpr double kMaxRms = 1.0;                       // a true match fits better than this
constexpr std::size_t kMostHypotheses = 4000;

// sqrt of the sum rather than hypot(), whose last bit differs between C libraries.
float distance(const Star &a, const Star &b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y));
}

}  // namespace

Matcher::Matcher() {
    ref_.reserve(kMatchStars);
    img_.reserve(kMatchStars);
    const std::size_t triangles = kTriangleStars * (kTriangleStars - 1) * (kTriangleStars - 2) / 6;
    refTriangles_.reserve(triangles);
    imgTriangles_.reserve(triangles);
    pairs_.reserve(kMatchStars);
    refTaken_.reserve(kMatchStars);
}

void Matcher::clearReference() {
    ref_.clear();
    refTriangles_.clear();
}

void Matcher::makeTriangles(std::span<const Star> stars, std::vector<Triangle> &out) {
    out.clear();
    const std::size_t n = std::min(stars.size(), kTriangleStars);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j)
            for (std::size_t k = j + 1; k < n; ++k) {
                // Each side with the corner opposite it.
                struct Side {
                    float length;
                    std::uint8_t opposite;
                } s[3] = {{distance(stars[j], stars[k]), std::uint8_t(i)},
                          {distance(stars[i], stars[k]), std::uint8_t(j)},
                          {distance(stars[i], stars[j]), std::uint8_t(k)}};
                std::sort(std::begin(s), std::end(s), [](const Side &x, const Side &y) { return x.length > y.length; });
                if (s[2].length < kShortestSide || s[0].length - s[1].length < kDistinctSides ||
                    s[1].length - s[2].length < kDistinctSides)
                    continue;
                const Star &p = stars[s[0].opposite], &q = stars[s[1].opposite], &r = stars[s[2].opposite];
                const float turn = (q.x - p.x) * (r.y - p.y) - (q.y - p.y) * (r.x - p.x);
                out.push_back(
                    {s[0].length, s[1].length, s[2].length, s[0].opposite, s[1].opposite, s[2].opposite, turn > 0});
            }
    std::sort(out.begin(), out.end(), [](const Triangle &x, const Triangle &y) {
        return x.a != y.a ? x.a < y.a : (x.b != y.b ? x.b < y.b : x.c < y.c);
    });
}

void Matcher::setReference(std::span<const Star> stars) {
    ref_.assign(stars.begin(), stars.begin() + std::ptrdiff_t(std::min(stars.size(), kMatchStars)));
    makeTriangles(ref_, refTriangles_);
}

// How many of the stars land within the agreement radius of a reference star.
int Matcher::countAgreeing(std::span<const Star> stars, const Similarity &t) const {
    int n = 0;
    const double r2 = kAgreeRadius * kAgreeRadius;
    for (const Star &s : stars) {
        const double x = t.mapX(s.x, s.y), y = t.mapY(s.x, s.y);
        for (const Star &r : ref_)
            if ((r.x - x) * (r.x - x) + (r.y - y) * (r.y - y) < r2) {
                ++n;
                break;
            }
    }
    return n;
}

// Pairs each star with the nearest reference star within `radius` that no
// nearer star has taken; the number of pairs.
int Matcher::pairUp(std::span<const Star> stars, const Similarity &t, double radius) {
    pairs_.clear();
    refTaken_.assign(ref_.size(), -1);
    const double r2 = radius * radius;
    // Best star for each reference star first, then keep the mutual choices.
    for (std::size_t i = 0; i < stars.size(); ++i) {
        const double x = t.mapX(stars[i].x, stars[i].y), y = t.mapY(stars[i].x, stars[i].y);
        double best = r2;
        int which = -1;
        for (std::size_t j = 0; j < ref_.size(); ++j) {
            const double d2 = (ref_[j].x - x) * (ref_[j].x - x) + (ref_[j].y - y) * (ref_[j].y - y);
            if (d2 < best) best = d2, which = int(j);
        }
        if (which < 0) continue;
        const int other = refTaken_[std::size_t(which)];
        if (other >= 0) {
            const Star &o = stars[std::size_t(other)];
            const double ox = t.mapX(o.x, o.y), oy = t.mapY(o.x, o.y);
            const Star &r = ref_[std::size_t(which)];
            if ((r.x - ox) * (r.x - ox) + (r.y - oy) * (r.y - oy) <= best) continue;
        }
        refTaken_[std::size_t(which)] = int(i);
    }
    for (std::size_t j = 0; j < ref_.size(); ++j)
        if (refTaken_[j] >= 0) {
            const Star &s = stars[std::size_t(refTaken_[j])];
            pairs_.push_back({s.x, s.y, ref_[j].x, ref_[j].y});
        }
    return int(pairs_.size());
}

MatchResult Matcher::match(std::span<const Star> stars) {
    MatchResult result;
    if (ref_.empty()) return result;
    img_.assign(stars.begin(), stars.begin() + std::ptrdiff_t(std::min(stars.size(), kMatchStars)));
    makeTriangles(img_, imgTriangles_);

    // Every pair of triangles with equal sides and the same turn proposes
    // a transform; the proposal most stars agree with wins.
    Similarity best;
    int bestAgreeing = 0;
    std::size_t tried = 0;
    const int enough = int(std::min(img_.size(), ref_.size()));
    for (const Triangle &t : imgTriangles_) {
        auto it = std::lower_bound(refTriangles_.begin(), refTriangles_.end(), t.a - kSideTolerance,
                                   [](const Triangle &x, float a) { return x.a < a; });
        for (; it != refTriangles_.end() && it->a <= t.a + kSideTolerance; ++it) {
            if (std::fabs(it->b - t.b) > kSideTolerance || std::fabs(it->c - t.c) > kSideTolerance ||
                it->counterClockwise != t.counterClockwise)
                continue;
            const PointPair corners[3] = {{img_[t.p].x, img_[t.p].y, ref_[it->p].x, ref_[it->p].y},
                                          {img_[t.q].x, img_[t.q].y, ref_[it->q].x, ref_[it->q].y},
                                          {img_[t.r].x, img_[t.r].y, ref_[it->r].x, ref_[it->r].y}};
            const Similarity guess = fitSimilarity(corners);
            const int agreeing = countAgreeing(img_, guess);
            if (agreeing > bestAgreeing) best = guess, bestAgreeing = agreeing;
            if (++tried >= kMostHypotheses || bestAgreeing == enough) break;
        }
        if (tried >= kMostHypotheses || bestAgreeing == enough) break;
    }
    if (bestAgreeing < kMinPairs) return result;

    // Refine on every agreeing star, then again without those that sit
    // farther than three times the spread from where the fit puts them.
    Similarity t = best;
    double radius = kAgreeRadius;
    double rms = 0;
    for (int pass = 0; pass < 3; ++pass) {
        if (pairUp(img_, t, radius) < kMinPairs) return result;
        t = fitSimilarity(pairs_);
        double sum = 0;
        for (const PointPair &p : pairs_) {
            const double dx = t.mapX(p.x, p.y) - p.rx, dy = t.mapY(p.x, p.y) - p.ry;
            sum += dx * dx + dy * dy;
        }
        rms = std::sqrt(sum / double(pairs_.size()));
        radius = std::clamp(3 * rms, 0.5, kAgreeRadius);
    }
    if (int(pairs_.size()) < kMinPairs || rms > kMaxRms) return result;
    result.matched = true;
    result.toReference = t;
    result.pairs = int(pairs_.size());
    result.rms = rms;
    return result;
}

}  // namespace noctil::stack
