// Putting the camera lines at rest from a signal handler, when nothing but
// async-signal-safe calls may run: the open backend leaves here, in advance,
// the one system call or output instruction that writes the rest level.
#pragma once

#include <cstdint>

namespace plat {

struct SignalRest {
    enum Kind : int { None, PpdevData, SerialLines, OutputByte };
    Kind kind = None;
    int fd = -1;                  // PpdevData, SerialLines
    int modemBits = 0;            // SerialLines: the TIOCM_* bits at rest
    std::uint16_t address = 0;    // OutputByte: the data register
};

// Set by a backend once its device is ready, cleared before it closes it.
void setSignalRest(const SignalRest &rest);
void clearSignalRest();

// Writes the rest level (all data lines low) with the prepared call, if any.
// Async-signal-safe; returns whether a write was made and succeeded.
bool restPortFromSignal() noexcept;

}  // namespace plat
