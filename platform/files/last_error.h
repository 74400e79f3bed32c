// The last error of the calling thread, as the Win32 calls report it, and
// how the host's errno values map onto the platform's error codes.
#pragma once

#include <windows.h>

#include <filesystem>

namespace plat {

// The platform's code for an errno value. ENOENT names a missing file;
// with `file` given, a missing directory on its way is told apart, as the
// system says "path not found" for that.
// The native file name is given as text or as a path.
DWORD win32Error(int errnoValue, const char *file = nullptr);
DWORD win32Error(int errnoValue, const std::filesystem::path *file);

// SetLastError(win32Error(errnoValue, file)).
void setLastErrorFromErrno(int errnoValue, const char *file = nullptr);
void setLastErrorFromErrno(int errnoValue, const std::filesystem::path *file);

}  // namespace plat
