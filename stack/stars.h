// Stars in one image plane: background and noise, local maxima of the
// smoothed residual above k sigma, a footprint that a hot pixel or a line of
// analog noise does not have, then centroid, flux and FWHM.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace noctil::stack {

struct Star {
    float x = 0, y = 0;  // centroid, pixels; y counts rows from the bottom row
    float flux = 0;      // background-subtracted sum within 4 pixels
    float peak = 0;      // highest background-subtracted pixel
    float fwhm = 0;      // pixels, from flux and peak as for a round Gaussian
};

struct StarSearch {
    float kSigma = 5.0f;  // detection threshold on the smoothed residual
    int maxStars = 64;    // brightest kept
};

class StarFinder {
public:
    // Makes room for images up to `width` x `height`; the only allocation.
    void reserve(std::uint32_t width, std::uint32_t height);

    // Finds the stars of `plane` (width x height values, bottom row first),
    // brightest first. The plane must fit what was reserved.
    std::span<const Star> find(std::span<const float> plane, std::uint32_t width, std::uint32_t height,
                               const StarSearch &search = {});

    float background() const { return background_; }  // median background of the last image
    float noise() const { return noise_; }            // its pixel noise (sigma)
    int rejectedPeaks() const { return rejected_; }   // peaks without a star's footprint
    // The median FWHM of the stars found last; 0 without stars.
    float medianFwhm();

private:
    struct Peak {
        std::uint32_t x, y;
        float height;
    };
    void estimateBackground(std::span<const float> plane, std::uint32_t w, std::uint32_t h);
    bool measure(const Peak &p, std::uint32_t w, std::uint32_t h, Star &out) const;

    std::vector<float> residual_, smooth_, scratch_, mesh_;
    std::vector<Peak> peaks_;
    std::vector<Star> stars_;
    std::vector<float> fwhms_;
    std::uint32_t meshW_ = 0, meshH_ = 0;
    float background_ = 0, noise_ = 0;
    int rejected_ = 0;
};

}  // namespace noctil::stack
