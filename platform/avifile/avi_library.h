// The AVI file library's own state, for tests that check the program's use of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace plat::avi {

// AVIFileInit calls not yet balanced by AVIFileExit.
int libraryUseCount();
// Files, streams and frame readers handed out and not yet released.
std::size_t openObjectCount();

// The serial of the newest file open for writing whose stream format is
// set, 0 when none; allocates nothing.
std::uint64_t newestFileBeingWritten();

}  // namespace plat::avi
