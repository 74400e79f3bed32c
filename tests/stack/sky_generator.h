// Synthetic images of a modified analog camera for the stacker's tests: a
// field of round stars that the mount moves (shift and rotation about the
// centre), sky background, amplifier glow from one corner, read noise, hot
// pixels fixed on the sensor, and on request a satellite trail. Each image
// knows the transform it was made with.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "stack/image.h"
#include "stack/stars.h"
#include "stack/transform.h"

namespace skytest {

struct Sky {
    std::uint32_t width = 720, height = 576;
    int channels = 3;
    noctil::stack::FieldMode fieldMode = noctil::stack::FieldMode::Fields;
    int stars = 40;                           // over the frame and a margin around it
    double margin = 80;                       // so that drift brings new stars in
    double faintest = 150, brightest = 1500;  // star flux in counts per second
    double fwhm = 2.6;
    double background = 4;  // sky, counts per second
    double pedestal = 12;   // the video level of black
    double noise = 6;       // read noise, counts
    int hotPixels = 300;
    double glow = 30;        // amplifier glow at the corner, counts per second of on-time
    double fieldOffset = 2;  // the second field's level above the first (field mode)
    std::uint64_t rngInit = 1;
};

struct Pose {
    double dx = 0, dy = 0;  // the field's drift, pixels (y up)
    double degrees = 0;     // its turn about the centre, counter-clockwise
};

struct Trail {
    double x0, y0, x1, y1;  // a one-pixel line between these points
    double sigmas;          // its height in noise sigmas
};

struct Shot {
    std::vector<std::uint8_t> rows;
    noctil::stack::ImageIn in() const;
    noctil::stack::FrameFormat format;
    double exposureS = 0, ampOffS = 0;
    std::uint32_t number = 0;
};

class SkyGenerator {
public:
    explicit SkyGenerator(const Sky &sky);

    // One image of the field in `pose`, exposed `exposureS` with the
    // amplifier off for `ampOffS` of it; `noiseSeed` draws its noise.
    Shot shoot(const Pose &pose, double exposureS, double ampOffS, std::uint64_t noiseSeed,
               const std::optional<Trail> &trail = std::nullopt, double extraSky = 0) const;
    // A frame with the telescope covered: pedestal, glow, hot pixels, noise.
    Shot dark(double exposureS, double ampOffS, std::uint64_t noiseSeed) const;
    // Every pixel at one value: black (0) or saturated (255).
    Shot flat(std::uint8_t value) const;

    // Where a star at reference position (x, y) lies in an image of `pose`.
    static noctil::stack::PointPair place(const Sky &sky, const Pose &pose, double x, double y);
    // The transform the stacker should find: image onto reference.
    noctil::stack::Similarity truth(const Pose &pose) const;

    struct TrueStar {
        double x, y, rate;
    };
    const std::vector<TrueStar> &stars() const { return stars_; }
    struct HotPixel {
        std::uint32_t x, y;
        double rate;
    };
    const std::vector<HotPixel> &hotPixels() const { return hot_; }
    const Sky &sky() const { return sky_; }

private:
    Shot render(const Pose *pose, double exposureS, double ampOffS, std::uint64_t noiseSeed,
                const std::optional<Trail> &trail, double extraSky) const;
    Sky sky_;
    std::vector<TrueStar> stars_;
    std::vector<HotPixel> hot_;
};

// Star lists of unrelated fields, for the matcher alone.
std::vector<noctil::stack::Star> randomStars(std::uint64_t rngInit, int count, double width, double height);

}  // namespace skytest
