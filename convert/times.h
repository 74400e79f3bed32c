// The time scales the output formats use, from UTC microseconds since 1970.
#pragma once

#include <cstdint>

namespace noctil::convert {

// Modified Julian Date: days since 1858-11-17T00:00:00 UTC.
double modifiedJulianDate(std::int64_t utcMicros);

// SER times: ticks of 100 ns since 0001-01-01T00:00:00 (UTC here).
std::int64_t serTicks(std::int64_t utcMicros);

}  // namespace noctil::convert
