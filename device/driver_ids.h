// Command ids of the driver entries in the Options menu.
//
// Drivers 0 to 3 use IDM_DRIVER0 + index. The ids IDM_DRIVER0 + 4, 5, 8 and
// 9 already belong to Preview, Record, Video Source and Video Format, so
// drivers 4 to 9 take a block of ids that no fixed command uses, starting
// at IDM_DRIVER4. Each driver thus has an entry of its own that can be
// chosen, checked and read back by id.
#ifndef NOCTIL_DRIVER_IDS_H
#define NOCTIL_DRIVER_IDS_H

#include "resource.h"

#define MAX_DRIVERS 10
#define IDM_DRIVER4 32791
// An id that no menu item carries: what a driver index outside 0..9 (such
// as -1, no driver connected) maps to, so checking it changes nothing.
#define IDM_NODRIVER (IDM_DRIVER0 - 1)

inline unsigned DriverCommandId(int index)
{
    if (index >= 0 && index < 4) return IDM_DRIVER0 + index;
    if (index >= 4 && index < MAX_DRIVERS) return IDM_DRIVER4 + (index - 4);
    return IDM_NODRIVER;
}

// The driver index of a command id, or -1 when the id is no driver entry.
inline int DriverIndexFromCommand(unsigned long long id)
{
    if (id >= IDM_DRIVER0 && id < IDM_DRIVER0 + 4) return (int)(id - IDM_DRIVER0);
    if (id >= IDM_DRIVER4 && id < IDM_DRIVER4 + (MAX_DRIVERS - 4)) return (int)(id - IDM_DRIVER4) + 4;
    return -1;
}

#endif  // NOCTIL_DRIVER_IDS_H
