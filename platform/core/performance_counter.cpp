// QueryPerformanceCounter and QueryPerformanceFrequency over the platform
// clock, so that what the program times with them (an exposure from its
// port writes) is timed on the clock the port's log and the tests use.
#include <windows.h>

#include "core/session.h"

namespace {

constexpr LONGLONG kTicksPerSecond = 1'000'000;  // one tick a microsecond, as plat::Micros

}  // namespace

extern "C" {

// Without a session there is no platform clock to read: the call fails.
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *count) {
    if (!count || !plat::hasSession()) return FALSE;
    count->QuadPart = plat::session().clock().now();
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = kTicksPerSecond;
    return TRUE;
}

}  // extern "C"
