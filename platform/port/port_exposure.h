// The exposures the port's log shows: what the camera's lines held and for
// how long, as the image log writes it beside each image and a process that
// takes exposures hands back with each image.
#pragma once

#include <optional>
#include <span>

#include "core/clock.h"
#include "port/parallel_port.h"

namespace plat {

// One exposure as the port's writes show it, on the port's clock.
struct PortExposure {
    Micros start = 0, end = 0;
    Micros ampOff = 0;  // the part of it at an amplifier-off level
};

// The last exposure among `writes` (oldest first) that has ended: from the
// write that put an integration level on the data register to the first
// write of another level. Successive integration levels (amplifier off,
// then on) are one exposure. Nullopt when there is none.
std::optional<PortExposure> lastExposure(std::span<const PortWrite> writes);

}  // namespace plat
