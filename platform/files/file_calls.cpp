// The standard-library file calls of the program, on Windows names. The link
// wraps fopen and remove (-Wl,--wrap), so every call the program makes
// arrives here and goes on to the C library with the native name. Without a
// session (test runners, tools) the names pass through unchanged. A failing
// call also leaves its reason in GetLastError, as the system's runtime does.
#include <windows.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/session.h"
#include "files/last_error.h"
#include "files/paths.h"
#include "files/replace_file.h"

extern "C" {
FILE *__real_fopen(const char *name, const char *mode);
int __real_remove(const char *name);
FILE *__wrap_fopen(const char *name, const char *mode);
int __wrap_remove(const char *name);
}

namespace {

// The native name for a C file call, in a buffer of the thread's that keeps
// its room, so a call allocates nothing once the buffer has grown; null when
// it cannot be made (no memory), with errno set for the caller.
const char *mapName(const char *name) {
    thread_local std::string mapped;
    try {
        plat::nativePathInto(name, mapped);
        return mapped.c_str();
    } catch (...) {
        errno = ENOMEM;
        return nullptr;
    }
}

// A name with characters Windows refuses fails before any disk is looked at.
bool refusedName(const char *name) {
    const DWORD error = plat::windowsNameError(name);
    if (error == ERROR_SUCCESS) return false;
    SetLastError(error);
    errno = EINVAL;
    return true;
}

}  // namespace

extern "C" FILE *__wrap_fopen(const char *name, const char *mode) {
    if (!name || !plat::hasSession()) return __real_fopen(name, mode);
    if (refusedName(name)) return nullptr;
    const char *mapped = mapName(name);
    if (!mapped) return nullptr;
    FILE *file = __real_fopen(mapped, mode);
    if (!file) plat::setLastErrorFromErrno(errno, mapped);
    return file;
}

// remove deletes files only: a folder of that name stays, and the call fails
// with EACCES, as the system's runtime does; so does a file being written
// (files/replace_file.h), with the system's sharing violation.
extern "C" int __wrap_remove(const char *name) {
    if (!name || !plat::hasSession()) return __real_remove(name);
    if (refusedName(name)) return -1;
    const char *mapped = mapName(name);
    if (!mapped) return -1;
    struct stat st {};
    int result = -1;
    if (::lstat(mapped, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EACCES;
    } else if (plat::heldForWriting(mapped)) {
        SetLastError(ERROR_SHARING_VIOLATION);
        errno = EACCES;
        return -1;
    } else {
        result = ::unlink(mapped);
    }
    if (result != 0) {
        const int error = errno;
        plat::setLastErrorFromErrno(error, mapped);
        errno = error;
    }
    return result;
}

// What the name is: a folder, a file (read-only when it cannot be written),
// or a device for anything else the host has there (pipes, sockets, links
// that lead nowhere).
extern "C" DWORD WINAPI GetFileAttributesA(LPCSTR name) {
    if (!name || !*name || !plat::hasSession()) {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (refusedName(name)) return INVALID_FILE_ATTRIBUTES;
    const char *mapped = mapName(name);
    if (!mapped) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st {};
    if (::lstat(mapped, &st) != 0) {
        plat::setLastErrorFromErrno(errno, mapped);
        return INVALID_FILE_ATTRIBUTES;
    }
    // A link counts as what it leads to; one that leads nowhere is still an
    // entry of that name.
    if (S_ISLNK(st.st_mode) && ::stat(mapped, &st) != 0) return FILE_ATTRIBUTE_DEVICE;
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if (!S_ISREG(st.st_mode)) return FILE_ATTRIBUTE_DEVICE;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

extern "C" BOOL WINAPI DeleteFileA(LPCSTR name) {
    if (!name || !*name || !plat::hasSession()) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    return __wrap_remove(name) == 0 ? TRUE : FALSE;
}

// rename() would replace what has the new name; Windows refuses instead, and
// refuses to move a file being written (files/replace_file.h).
extern "C" BOOL WINAPI MoveFileA(LPCSTR existingName, LPCSTR newName) {
    if (!existingName || !*existingName || !newName || !*newName || !plat::hasSession()) {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    if (refusedName(existingName) || refusedName(newName)) return FALSE;
    const char *from = mapName(existingName);
    if (!from) return FALSE;
    const std::string source(from);  // the next mapping reuses the buffer
    const char *to = mapName(newName);
    if (!to) return FALSE;
    struct stat st {};
    if (::lstat(to, &st) == 0) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    if (plat::heldForWriting(source.c_str())) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return FALSE;
    }
    if (::rename(source.c_str(), to) != 0) {
        plat::setLastErrorFromErrno(errno, source.c_str());
        return FALSE;
    }
    return TRUE;
}

// The Windows directory as the program's world names it, a drive letter and
// backslashes, which the file calls map back to the platform's directory.
// Returns the length copied without the terminator, or the size needed with
// the terminator when `buffer` is too small, or 0 when there is no platform.
extern "C" UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    if (!plat::hasSession()) return 0;
    const std::string dir = plat::kWindowsDirectoryName;
    if (!buffer || size <= dir.size()) return static_cast<UINT>(dir.size() + 1);
    std::memcpy(buffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}
