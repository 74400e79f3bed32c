// UTC for times of the platform clock. The real clock counts from an
// arbitrary moment; its UTC is read from the system's calendar clock each
// time a mapping is asked for, so a long night follows the system's time
// corrections. A virtual clock's 0 is kVirtualClockUtcOrigin, later by the
// suspensions it simulated, so that every time a test produces is the same
// on every run.
#pragma once

#include "core/clock.h"

namespace plat {

// Microseconds since 1970-01-01T00:00:00 UTC (leap seconds not counted).
using UtcMicros = std::int64_t;

// 2000-01-01T00:00:00 UTC.
inline constexpr UtcMicros kVirtualClockUtcOrigin = 946'684'800'000'000;

// What to add to a time of `clock` to get its UTC. Times mapped with one
// offset keep their differences exactly.
UtcMicros utcOffset(const Clock &clock);

}  // namespace plat
