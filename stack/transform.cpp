#include "transform.h"

namespace noctil::stack {

Similarity fitSimilarity(std::span<const PointPair> pairs) {
    if (pairs.size() < 2) return {};
    double mx = 0, my = 0, mrx = 0, mry = 0;
    for (const PointPair &p : pairs) mx += p.x, my += p.y, mrx += p.rx, mry += p.ry;
    const double n = double(pairs.size());
    mx /= n, my /= n, mrx /= n, mry /= n;
    // The rotation is the direction of (sum of dot products, sum of cross
    // products); no trigonometry, so every C library gives the same bits.
    double dot = 0, cross = 0;
    for (const PointPair &p : pairs) {
        const double ax = p.x - mx, ay = p.y - my, bx = p.rx - mrx, by = p.ry - mry;
        dot += ax * bx + ay * by;
        cross += ax * by - ay * bx;
    }
    const double norm = std::sqrt(dot * dot + cross * cross);
    if (norm <= 0) return {1, 0, mrx - mx, mry - my};
    Similarity t;
    t.c = dot / norm;
    t.s = cross / norm;
    t.tx = mrx - (t.c * mx - t.s * my);
    t.ty = mry - (t.s * mx + t.c * my);
    return t;
}

}  // namespace noctil::stack
