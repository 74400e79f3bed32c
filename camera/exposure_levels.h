// What the camera's lines hold over one exposure, and for how long: the
// integration level at its start, the amplifier's last second of a long
// exposure, and the readout level of the stream that follows.
#pragma once

#include <camport.h>

#include <cstdint>

namespace noctil::camera {

// The amplifier goes back on for the last second of a long exposure.
inline constexpr std::uint32_t AMPON_LEAD_MS = 1000;
// Exposures up to this long keep the amplifier on throughout.
inline constexpr std::int32_t AMPOFF_MIN_EXPOSURE_MS = 2000;

// The readout stream that follows the exposure: a frame asked for every
// 33 ms, and a stream that ends by itself after two seconds whether or not
// the image was chosen.
inline constexpr std::uint32_t READOUT_FRAME_MICROS = 33000;
inline constexpr std::uint32_t READOUT_TIME_LIMIT_S = 2;

// One phase of the integration: the level written at its start and how long
// it holds before the next phase.
struct ExposurePhase {
    CameraPortValue level;
    std::uint32_t durationMs;
    // True: the amplifier's last second (amplifierOnPhase) follows; false:
    // the readout follows.
    bool amplifierOff;
};

// The first phase of an exposure of `exposureMs` with the amplifier held off
// or not. A negative time (a hand-edited settings file) counts as 0 ms, so
// the cycle goes on at once instead of waiting for about 49 days.
ExposurePhase exposureStart(std::int32_t exposureMs, bool ampOff);

// The amplifier's last second, after an amplifier-off phase.
ExposurePhase amplifierOnPhase();

// The heights read out field by field, over two passes: 480-line and
// 576-line interlaced video. Every other height is read as whole frames.
bool isFieldModeHeight(std::uint32_t height);

// The level written at the first streamed frame after the exposure: it ends
// the integration and moves the charge out (the odd rows first on interlaced
// video). The second pass of interlaced video reads at PORT_READOUT.
CameraPortValue readoutLevel(std::uint32_t height);

}  // namespace noctil::camera
