// Matching an image's stars to the reference's: triangles of bright stars
// with the same three side lengths (the field is only shifted and rotated,
// never scaled or mirrored) propose a transform; the one most stars agree
// with is refined by least squares with outliers left out.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "stars.h"
#include "transform.h"

namespace noctil::stack {

struct MatchResult {
    bool matched = false;
    Similarity toReference;  // image coordinates onto the reference's
    int pairs = 0;           // stars matched after the refinement
    double rms = 0;          // their residual, pixels
};

class Matcher {
public:
    Matcher();  // the only allocations

    // The reference's stars (brightest first); its triangles are made here.
    void setReference(std::span<const Star> stars);
    bool hasReference() const { return !ref_.empty(); }
    void clearReference();

    MatchResult match(std::span<const Star> stars);

private:
    struct Triangle {
        float a, b, c;          // sides, longest first
        std::uint8_t p, q, r;   // the corners opposite a, b and c
        bool counterClockwise;  // p, q, r turn left
    };
    static void makeTriangles(std::span<const Star> stars, std::vector<Triangle> &out);
    int countAgreeing(std::span<const Star> stars, const Similarity &t) const;
    int pairUp(std::span<const Star> stars, const Similarity &t, double radius);

    std::vector<Star> ref_, img_;
    std::vector<Triangle> refTriangles_, imgTriangles_;
    std::vector<PointPair> pairs_;
    std::vector<int> refTaken_;
};

}  // namespace noctil::stack
