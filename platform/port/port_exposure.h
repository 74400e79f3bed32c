// The port's log read as exposures: when the camera's lines entered an
// integration level and left it, and how long the amplifier was off. The
// image log's lines and the driver process's FITS keys tell these times.
#pragma once

#include <optional>
#include <span>

#include "core/clock.h"
#include "port/parallel_port.h"

namespace plat {

// One exposure as the port's writes show it, on the platform clock. The
// camera integrates while the system is suspended and the clock stands
// still, so the start is moved back by the suspension within it: end - start
// is the exposure as the camera took it, and a UTC offset read after it maps
// both ends right.
struct PortExposure {
    Micros start = 0, end = 0;
    Micros ampOff = 0;     // the part of it at an amplifier-off level, on the clock alone
    Micros suspended = 0;  // how long the system was suspended during it
};

// Less than this between two readings of the clocks is their reading a
// moment apart, not a suspension.
inline constexpr Micros kSuspendNoise = 1'000;

// The last exposure among `writes` (oldest first) that has ended: from the
// write that put an integration level on the data register to the first
// write of another level. Successive integration levels (amplifier off,
// then on) are one exposure. Nullopt when there is none.
std::optional<PortExposure> lastExposure(std::span<const PortWrite> writes);

}  // namespace plat
