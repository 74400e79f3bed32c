// One camera port, one owner: the program and the INDI driver drive the
// ports of the same configuration, and a port that one process drives is
// refused to another, which is told who holds it. The port's device file
// (ppdev, serial) takes an advisory lock when it is opened (TIOCEXCL, the
// serial port's own exclusion, does not hold against root); an I/O address,
// written without opening anything, takes the lock of a file named after it
// in the system's lock directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace plat {

// The system's directory of lock files.
inline constexpr const char *kPortLockDirectory = "/run/lock";

// The lock file of the I/O port at `base` in `directory`:
// "<directory>/noctil-port-0x378.lock".
std::filesystem::path ioPortLockFile(const std::filesystem::path &directory, std::uint16_t base);

// Takes the lock of `fd` (an open port device or lock file) without
// waiting: false only when another open file holds it. A file that takes no
// lock at all leaves the device's own exclusion to do its work.
bool lockPort(int fd);

// Why a port whose lock another holds is refused, for a person:
// "in use by indi_noctil_ccd (process 1234)".
std::string heldReason(const std::filesystem::path &file);

// Who else has `file` open, as far as this process may see:
// "indi_noctil_ccd (process 1234)"; empty when nobody.
std::string portHolder(const std::filesystem::path &file);

}  // namespace plat
