#include "core/utc.h"

#include <time.h>

namespace plat {

UtcMicros utcOffset(const Clock &clock) {
    // The calendar goes on while the system sleeps; the clock does not.
    if (clock.isVirtual()) return kVirtualClockUtcOrigin + clock.suspended();
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const UtcMicros utcNow = UtcMicros{ts.tv_sec} * 1'000'000 + ts.tv_nsec / 1000;
    return utcNow - clock.now();
}

}  // namespace plat
