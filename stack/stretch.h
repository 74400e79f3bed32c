// How the linear stack is shown: black and white points and a midtone
// curve, the same for every colour channel (linked), chosen automatically
// from the stack's median and spread or by the user. The stack itself is
// never changed.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "image.h"

namespace noctil::stack {

struct StretchLevels {
    float black = 0, white = 1;  // in the stack's counts
    float midtone = 0.5f;        // 0..1: where the curve puts the middle grey; below 0.5 lifts the faint
};

struct Histogram {
    float low = 0, high = 0;  // the range the bins cover: the stack's least and greatest value
    int channels = 0;
    std::array<std::array<std::uint32_t, 256>, 3> counts{};
};

// The midtone transfer: 0 stays 0, 1 stays 1, `midtone` goes to 0.5.
float midtoneTransfer(float x, float midtone);

class Stretcher {
public:
    // Room for stacks of `pixels` pixels; the only allocation.
    void reserve(std::size_t pixels);

    // Black point 2.8 spreads below the median (not below the least value),
    // white at the greatest value, and the midtone that puts the median at a
    // quarter of the way up.
    StretchLevels automatic(std::span<const float> planes, const FrameFormat &format);
    void histogram(std::span<const float> planes, const FrameFormat &format, Histogram &out) const;
    // The stretched stack as 24-bit DIB rows (bottom row first, padded to 4 bytes).
    void render(std::span<const float> planes, const FrameFormat &format, const StretchLevels &levels,
                std::span<std::uint8_t> rows);

private:
    std::vector<float> sample_;
    std::array<std::uint8_t, 4096> curve_{};
};

}  // namespace noctil::stack
