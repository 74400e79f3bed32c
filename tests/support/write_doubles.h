// Stand-ins for the machine under the files the platform writes, through
// the platform's write seam: drives of a set size, and a process killed
// after so many bytes. Each holds for the session in force, except the AVI
// kill, which holds for the process.
#pragma once

#include <cstdint>
#include <optional>

namespace plat {

// Gives the drive of `letter` a size in bytes, or takes it away (nothing).
// A write of an AVI file or a capture-file copy that would make the drive's
// files take more than that fails with ENOSPC, as on a full disk; a drive
// without a size is unlimited.
void setDriveSize(char letter, std::optional<std::uint64_t> bytes);

namespace avi {
// The process's AVI files write this many bytes from now on (patches
// included); the write that reaches the count is cut there and the process
// kills itself with SIGKILL, as a kill in the middle of that write would
// leave the file.
void killAfterAviBytes(std::uint64_t bytes);
}  // namespace avi

namespace imagelog {
// The session's logs write this many bytes in all; the write that would go
// further kills the process with SIGKILL first (in the middle of a line when
// the count falls there, before a line when it falls on its start).
void killAfterLogBytes(std::uint64_t bytes);
}  // namespace imagelog

}  // namespace plat
