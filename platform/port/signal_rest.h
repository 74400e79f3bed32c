// Putting the camera lines at rest from a signal handler, when nothing but
// async-signal-safe calls may run: the open backend leaves here, in advance,
// its own function that writes the rest level and what that function needs
// (each backend's rest lives in its backend file).
#pragma once

#include <cstdint>

namespace plat {

struct SignalRest {
    // Writes the rest level with the call prepared here: async-signal-safe
    // only. True when the write was made and succeeded.
    bool (*write)(const SignalRest &rest) noexcept = nullptr;
    int fd = -1;                // the device (ppdev, serial)
    int modemBits = 0;          // serial: the TIOCM_* bits at rest
    std::uint16_t address = 0;  // direct I/O: the data register
};

// Set by a backend once its device is ready, cleared before it closes it.
void setSignalRest(const SignalRest &rest);
void clearSignalRest();

// Writes the rest level (all data lines low) with the prepared call, if any.
// Async-signal-safe; returns whether a write was made and succeeded.
bool restPortFromSignal() noexcept;

}  // namespace plat
