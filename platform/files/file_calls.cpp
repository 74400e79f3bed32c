// The standard-library file calls of the program, on Windows names. The link
// wraps fopen and remove (-Wl,--wrap), so every call the program makes
// arrives here and goes on to the C library with the native name. Without a
// session (test runners, tools) the names pass through unchanged.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/session.h"
#include "files/paths.h"

extern "C" {
FILE *__real_fopen(const char *name, const char *mode);
int __real_remove(const char *name);
FILE *__wrap_fopen(const char *name, const char *mode);
int __wrap_remove(const char *name);
}

namespace {

// The native name for a C file call, or false when it cannot be made (no
// memory); errno is then set for the caller.
bool mapName(const char *name, std::string &mapped) {
    try {
        mapped = plat::nativePath(name).string();
        return true;
    } catch (...) {
        errno = ENOMEM;
        return false;
    }
}

}  // namespace

extern "C" FILE *__wrap_fopen(const char *name, const char *mode) {
    if (!name || !plat::hasSession()) return __real_fopen(name, mode);
    std::string mapped;
    if (!mapName(name, mapped)) return nullptr;
    return __real_fopen(mapped.c_str(), mode);
}

extern "C" int __wrap_remove(const char *name) {
    if (!name || !plat::hasSession()) return __real_remove(name);
    std::string mapped;
    if (!mapName(name, mapped)) return -1;
    return __real_remove(mapped.c_str());
}

// The Windows directory as a native path. Returns the length copied without
// the terminator, or the size needed with the terminator when `buffer` is too
// small, or 0 when there is no platform.
extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    if (!plat::hasSession()) return 0;
    std::string dir;
    try {
        dir = plat::windowsDirectory().string();
    } catch (...) {
        return 0;
    }
    if (!buffer || size <= dir.size()) return static_cast<UINT>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}
