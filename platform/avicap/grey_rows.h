// Rows of a monochrome camera: read noise added to noise-free levels, and
// 8-bit levels written out as the frame formats lay pixels down. These run
// for every row of every simulated frame, so on x86 they use its vector
// instructions (SSE2 everywhere, SSSE3 where the processor has it).
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::avicap {

// Noise-free levels in 1/64 level of `count` pixels: bias + light x
// lightScale + glow x glowScale, rounded, at most `ceiling`.
void fineLevels(const float *light, const float *glow, float lightScale, float glowScale, float bias,
                std::int16_t ceiling, std::size_t count, std::int16_t *out);

// out[x] = fine[x] + noise[x] in 1/64 level, rounded to the nearest level and
// clipped to 0..255, for x < width.
void addNoiseAndRound(const std::int16_t *fine, const std::int16_t *noise, int width, std::uint8_t *out);

// The same for a row whose pixels all have the level `fine` (a dark
// sensor): the same result as addNoiseAndRound over a row of that level,
// without reading one.
void addNoiseToLevelAndRound(std::int16_t fine, const std::int16_t *noise, int width, std::uint8_t *out);

// 24-bit grey pixels: each level three times (3 x width bytes).
void greyToRgb24(const std::uint8_t *levels, int width, std::uint8_t *out);

// YUY2 of a monochrome camera: each level as luminance, 128 as colour
// difference (2 x width bytes).
void greyToYuy2(const std::uint8_t *levels, int width, std::uint8_t *out);

}  // namespace plat::avicap
