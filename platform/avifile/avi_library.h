// The AVI file library's own state, for tests that check the program's use of it.
#pragma once

#include <cstddef>

namespace plat::avi {

// AVIFileInit calls not yet balanced by AVIFileExit.
int libraryUseCount();
// Files, streams and frame readers handed out and not yet released.
std::size_t openObjectCount();

}  // namespace plat::avi
