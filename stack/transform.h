// A rotation and a shift of the image plane (no scale: the camera and the
// telescope keep their focal length through a night).
#pragma once

#include <cmath>
#include <span>

namespace noctil::stack {

struct Similarity {
    // x' = c x - s y + tx,  y' = s x + c y + ty, with c^2 + s^2 = 1.
    double c = 1, s = 0, tx = 0, ty = 0;

    double mapX(double x, double y) const { return c * x - s * y + tx; }
    double mapY(double x, double y) const { return s * x + c * y + ty; }
    // Degrees, counter-clockwise as the image is shown (its rows go up).
    double rotationDegrees() const { return std::atan2(s, c) * (180.0 / 3.14159265358979323846); }
};

struct PointPair {
    double x, y;    // in the image
    double rx, ry;  // in the reference
};

// The least-squares rotation and shift taking each pair's image point onto
// its reference point (the two-dimensional Procrustes solution); identity
// for fewer than two pairs.
Similarity fitSimilarity(std::span<const PointPair> pairs);

}  // namespace noctil::stack
