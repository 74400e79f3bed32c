// GetLastError, SetLastError and FormatMessageA over the system's own texts.
#include "files/last_error.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

constexpr DWORD kMessageNotFound = 317;     // ERROR_MR_MID_NOT_FOUND
constexpr DWORD kInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER

struct SystemMessage {
    DWORD id;
    const char *text;
};

// The texts the system gives for the codes the platform reports.
constexpr SystemMessage kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_GEN_FAILURE, "A device attached to the system is not functioning."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILE_TOO_LARGE, "The file size exceeds the limit allowed and cannot be saved."},
    {ERROR_IO_DEVICE, "The request could not be performed because of an I/O device error."},
};

}  // namespace

namespace plat {

namespace {

// Whether the folder a native file name lies in is there (a name without a
// folder lies in the current one). Checked in a buffer of its own, as the
// file calls that ask must not allocate.
bool folderOfFileThere(const char *file) {
    const char *slash = std::strrchr(file, '/');
    if (!slash) return true;
    if (slash == file) return true;  // the top of the file system
    char folder[PATH_MAX];
    const auto length = static_cast<std::size_t>(slash - file);
    if (length >= sizeof folder) return false;
    std::memcpy(folder, file, length);
    folder[length] = '\0';
    struct stat st {};
    return ::stat(folder, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

DWORD win32Error(int errnoValue, const char *file) {
    switch (errnoValue) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return !file || folderOfFileThere(file) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    // The system refuses to open a folder as a file with "access denied".
    case EACCES:
    case EPERM:
    case EISDIR:
    case EBUSY:
    case ETXTBSY: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EFBIG: return ERROR_FILE_TOO_LARGE;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EIO: return ERROR_IO_DEVICE;
    // A file that another holds for writing (files/replace_file.h).
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    default: return ERROR_GEN_FAILURE;
    }
}

DWORD win32Error(int errnoValue, const std::filesystem::path *file) {
    return win32Error(errnoValue, file ? file->c_str() : nullptr);
}

void setLastErrorFromErrno(int errnoValue, const char *file) { SetLastError(win32Error(errnoValue, file)); }

void setLastErrorFromErrno(int errnoValue, const std::filesystem::path *file) {
    SetLastError(win32Error(errnoValue, file));
}

}  // namespace plat

extern "C" {

DWORD WINAPI GetLastError(void) { return lastError; }

void WINAPI SetLastError(DWORD error) { lastError = error; }

// Only the system's own texts, which have no inserts; each ends in CR LF as
// the system's do. Returns the characters stored without the terminator, or
// 0 (and the reason in GetLastError) when there is no such text or it does
// not fit.
DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer, DWORD size,
                            va_list *arguments) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const SystemMessage &m : kMessages) {
        if (m.id != messageId) continue;
        const std::size_t length = std::strlen(m.text) + 2;
        if (length + 1 > size) {
            SetLastError(kInsufficientBuffer);
            return 0;
        }
        std::memcpy(buffer, m.text, length - 2);
        std::memcpy(buffer + length - 2, "\r\n", 3);
        return static_cast<DWORD>(length);
    }
    SetLastError(kMessageNotFound);
    return 0;
}

}  // extern "C"
