#include "core/clock.h"

#include <sys/prctl.h>
#include <time.h>

#include <cerrno>

namespace plat {

namespace {
std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}
// Boot time less monotonic time: grows by each suspension.
std::int64_t suspendGapNs() {
    timespec boot{};
    clock_gettime(CLOCK_BOOTTIME, &boot);
    return std::int64_t{boot.tv_sec} * 1'000'000'000 + boot.tv_nsec - monotonicNs();
}
}  // namespace

RealClock::RealClock() : originNs_(monotonicNs()), originGapNs_(suspendGapNs()) {
    // Timed sleeps of this thread may otherwise end up to 50 us late, the
    // kernel's default slack; 1 ns asks for the finest wake it offers.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

Micros RealClock::now() const { return (monotonicNs() - originNs_) / 1000; }

Micros RealClock::suspended() const { return (suspendGapNs() - originGapNs_) / 1000; }

void RealClock::sleepUntil(Micros when) {
    const std::int64_t targetNs = originNs_ + when * 1000;
    timespec ts{static_cast<time_t>(targetNs / 1'000'000'000), static_cast<long>(targetNs % 1'000'000'000)};
    // An interrupted sleep is simply resumed until the absolute time.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {}
}

}  // namespace plat
