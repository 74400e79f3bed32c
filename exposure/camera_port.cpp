// The camera control port: the data register of the parallel port, whose
// lines switch the camera's integration, amplifier and readout.
#include <conio.h>

#include "app_state.h"

// The time of a write in microseconds, 0 when the system has no counter.
static LONGLONG NowMicros(void)
{
    LARGE_INTEGER count, frequency;
    if (!QueryPerformanceCounter(&count) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0) return 0;
    // In two parts, so that a counter of many days does not overflow.
    LONGLONG seconds = count.QuadPart / frequency.QuadPart, rest = count.QuadPart % frequency.QuadPart;
    return seconds * 1000000 + rest * 1000000 / frequency.QuadPart;
}

// Times the exposures by the writes, as the port's log does: successive
// integration levels (amplifier off, then on) are one exposure, which the
// first write of another level ends.
static void TimeExposure(BYTE value)
{
    PortTiming *t = &app.portTiming;
    LONGLONG now = NowMicros();
    BOOL integrating = (value & PORT_INTEGRATE_BITS) == PORT_INTEGRATE_BITS;
    if (t->integrating && t->ampOffNow) t->ampOff += now - t->since;
    if (integrating && !t->integrating) {
        t->start = now;
        t->ampOff = 0;
    } else if (!integrating && t->integrating) {
        t->known = TRUE;
        t->lastMicros = now - t->start;
        t->lastAmpOffMicros = t->ampOff;
    }
    t->integrating = integrating;
    t->ampOffNow = integrating && (value & PORT_AMPOFF_BIT) != 0;
    t->since = now;
}

// One byte to the data register sets all eight lines at once; the level
// stays until the next write. Nothing is read back and nothing waits.
void WriteCameraPort(BYTE value)
{
    _outp(CAMERA_PORT_ADDRESS, value);
    TimeExposure(value);
}
