#include "avicap/grey_rows.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define NOCTIL_X86 1
#endif

namespace plat::avicap {

namespace {

constexpr int kShift = 6;
// Rounding to the nearest level: half a level is 32 fine steps, but a sum
// exactly halfway would always go up and lift the mean level by 1/128. Half
// the pixels round such sums down instead, so the mean stays true.
constexpr int kHalfUp = 1 << (kShift - 1), kHalfDown = kHalfUp - 1;

void addNoiseScalar(const std::int16_t *fine, const std::int16_t *noise, int from, int width, std::uint8_t *out) {
    for (int x = from; x < width; ++x) {
        const int half = x % 2 ? kHalfDown : kHalfUp;
        out[x] = static_cast<std::uint8_t>(std::clamp(fine[x] + noise[x] + half, 0, (256 << kShift) - 1) >> kShift);
    }
}

void rgbScalar(const std::uint8_t *levels, int from, int width, std::uint8_t *out) {
    for (int x = from; x < width; ++x) out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = levels[x];
}

#if NOCTIL_X86
// Sixteen levels make 48 bytes: three shuffles of the same register.
__attribute__((target("ssse3"))) int rgbSsse3(const std::uint8_t *levels, int width, std::uint8_t *out) {
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(levels + x));
        auto *o = reinterpret_cast<__m128i *>(out + 3 * x);
        _mm_storeu_si128(o, _mm_shuffle_epi8(l, first));
        _mm_storeu_si128(o + 1, _mm_shuffle_epi8(l, second));
        _mm_storeu_si128(o + 2, _mm_shuffle_epi8(l, third));
    }
    return x;
}

bool hasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}
#endif

}  // namespace

void fineLevels(const float *light, const float *glow, float lightScale, float glowScale, float bias,
                std::int16_t ceiling, std::size_t count, std::int16_t *out) {
    std::size_t i = 0;
#if NOCTIL_X86
    const __m128 l = _mm_set1_ps(lightScale), g = _mm_set1_ps(glowScale), b = _mm_set1_ps(bias);
    const __m128 top = _mm_set1_ps(ceiling);
    const auto level = [&](std::size_t at) {
        const __m128 v =
            _mm_add_ps(b, _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(light + at), l), _mm_mul_ps(_mm_loadu_ps(glow + at), g)));
        return _mm_cvtps_epi32(_mm_min_ps(v, top));
    };
    for (; i + 8 <= count; i += 8)
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packs_epi32(level(i), level(i + 4)));
#endif
    for (; i < count; ++i)
        out[i] = static_cast<std::int16_t>(
            std::lround(std::min<float>(bias + light[i] * lightScale + glow[i] * glowScale, ceiling)));
}

void addNoiseAndRound(const std::int16_t *fine, const std::int16_t *noise, int width, std::uint8_t *out) {
    int x = 0;
#if NOCTIL_X86
    // Sums stay within 16 bits (fine levels stop at 270, the noise at a
    // few levels); the pack saturates to 0..255 as the clip does.
    const __m128i half = _mm_setr_epi16(kHalfUp, kHalfDown, kHalfUp, kHalfDown, kHalfUp, kHalfDown, kHalfUp, kHalfDown);
    for (; x + 16 <= width; x += 16) {
        const auto *f = reinterpret_cast<const __m128i *>(fine + x);
        const auto *n = reinterpret_cast<const __m128i *>(noise + x);
        const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_loadu_si128(f), _mm_loadu_si128(n)), half);
        const __m128i high = _mm_add_epi16(_mm_add_epi16(_mm_loadu_si128(f + 1), _mm_loadu_si128(n + 1)), half);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                         _mm_packus_epi16(_mm_srai_epi16(low, kShift), _mm_srai_epi16(high, kShift)));
    }
#endif
    addNoiseScalar(fine, noise, x, width, out);
}

void addNoiseToLevelAndRound(std::int16_t fine, const std::int16_t *noise, int width, std::uint8_t *out) {
    int x = 0;
#if NOCTIL_X86
    // As addNoiseAndRound, with one level for the whole row: only the noise
    // is read from memory.
    const __m128i level = _mm_add_epi16(_mm_set1_epi16(fine), _mm_setr_epi16(kHalfUp, kHalfDown, kHalfUp, kHalfDown,
                                                                             kHalfUp, kHalfDown, kHalfUp, kHalfDown));
    for (; x + 16 <= width; x += 16) {
        const auto *n = reinterpret_cast<const __m128i *>(noise + x);
        const __m128i low = _mm_add_epi16(_mm_loadu_si128(n), level);
        const __m128i high = _mm_add_epi16(_mm_loadu_si128(n + 1), level);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + x),
                         _mm_packus_epi16(_mm_srai_epi16(low, kShift), _mm_srai_epi16(high, kShift)));
    }
#endif
    for (; x < width; ++x) {
        const int half = x % 2 ? kHalfDown : kHalfUp;
        out[x] = static_cast<std::uint8_t>(std::clamp(fine + noise[x] + half, 0, (256 << kShift) - 1) >> kShift);
    }
}

void greyToRgb24(const std::uint8_t *levels, int width, std::uint8_t *out) {
    int x = 0;
#if NOCTIL_X86
    if (hasSsse3()) x = rgbSsse3(levels, width, out);
#endif
    rgbScalar(levels, x, width, out);
}

void greyToYuy2(const std::uint8_t *levels, int width, std::uint8_t *out) {
    int x = 0;
#if NOCTIL_X86
    const __m128i noColour = _mm_set1_epi8(static_cast<char>(0x80));
    for (; x + 16 <= width; x += 16) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(levels + x));
        auto *o = reinterpret_cast<__m128i *>(out + 2 * x);
        _mm_storeu_si128(o, _mm_unpacklo_epi8(l, noColour));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi8(l, noColour));
    }
#endif
    for (; x < width; ++x) {
        out[2 * x] = levels[x];
        out[2 * x + 1] = 0x80;
    }
}

}  // namespace plat::avicap
