// The sky the simulated camera looks at, rebuilt from outside with the same
// sky number, so that an image the program wrote can be compared pixel by pixel
// with the charge the scene must have left for a given integration; and the
// images themselves, as brightness per scene pixel (row 0 at the top).
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "avicap/sky.h"

namespace noctil::e2e {

// Brightness of one image, one value per pixel, scene rows top-down.
struct Image {
    int width = 0, height = 0;
    std::vector<double> pixels;

    double at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
    // Mean of the 3 x 3 box at (x, y) less the median of the ring 5 to 7
    // pixels away: a star's light above its local background.
    double boxExcess(int x, int y) const;
    // Mean over the `size` x `size` box whose top-left pixel is (x, y).
    double boxMean(int x, int y, int size) const;
};

// A 24-bit bottom-up DIB (header, rows) as the platform's reader decodes it
// or a capture window paints it; the blue byte stands for the grey level.
Image imageFromDib24(const BITMAPINFOHEADER &header, std::span<const std::uint8_t> rows);
// Frame `index` of top-down B,G,R rows without padding, as ffmpeg writes them.
Image imageFromBgr24(std::span<const std::uint8_t> frames, int width, int height, std::size_t index);

// How long a frame's charge was collected: light for `lightSeconds`, the
// amplifier glow for `glowSeconds`.
struct Integration {
    double lightSeconds = 0, glowSeconds = 0;
};

class Scene {
public:
    Scene(int width, int height);

    int width() const { return sky_.width(); }
    int height() const { return sky_.height(); }
    // The level the camera renders without noise, before clipping.
    double level(int x, int y, Integration t) const;
    Image expected(Integration t) const;
    // Light of pixel (x, y) above the sky background of its row, electrons/s.
    double starLight(int x, int y) const { return sky_.light(x, y) - rowSky_[static_cast<std::size_t>(y)]; }
    double light(int x, int y) const { return sky_.light(x, y); }
    double glow(int x, int y) const { return sky_.glow(x, y); }

    // A faint star: the brightest pixel of a star whose light in the 3 x 3
    // box is `minRate` to `maxRate` electrons per second above the sky, with
    // no other star in the ring around it and no glow worth speaking of.
    // Returns false when the scene has none.
    bool faintStar(double minRate, double maxRate, int &x, int &y) const;

    // Compares an image with the noise-free scene: the largest difference
    // and the mean difference over the pixels the camera did not clip.
    struct Match {
        double maxAbs = 0, mean = 0;
        std::size_t compared = 0;
    };
    Match compare(const Image &image, Integration t) const;

    // Mean over the `size` x `size` box at the scene's glowing corner of the
    // level the glow alone adds in `glowSeconds` of amplifier time.
    double cornerGlow(int size, double glowSeconds) const;

    static constexpr double kBias = 16.0;

private:
    plat::avicap::Sky sky_;
    std::vector<double> rowSky_;  // the sky background of each row
};

}  // namespace noctil::e2e
