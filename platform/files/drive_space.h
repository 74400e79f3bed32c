// Drives of a set size. A drive is unlimited unless it is given a size; then
// the bytes of all the files on it may not pass that size, and a write that
// would pass it fails with ENOSPC as on a full disk. So a full drive can be
// had on any machine, and the platform's writers meet it where they write.
#pragma once

#include <cstdint>
#include <optional>

namespace plat {

// Gives the drive of `letter` a size in bytes, or takes it away (nothing).
void setDriveSize(char letter, std::optional<std::uint64_t> bytes);

// Whether the file open on `fd` may extend to `end` bytes. False, with errno
// ENOSPC, when the file lies on a drive of set size whose files would then
// take more than that size; true when it may or when no drive has a size.
bool driveHasRoom(int fd, std::uint64_t end);

}  // namespace plat
