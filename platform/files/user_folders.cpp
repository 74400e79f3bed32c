// The user's own folders, as Windows gives them to a program: its documents,
// its application data and its temporary folder, each a Windows name on
// drive C under C:\Users\<login>. A folder is made when the caller asks
// (CSIDL_FLAG_CREATE; always for the temporary folder, which Windows keeps).
#include <windows.h>
#include <shlobj.h>

#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <system_error>

#include "core/session.h"
#include "files/paths.h"

namespace {

// The login of the process, as Windows names a profile after its user.
std::string login() {
    if (const passwd *entry = ::getpwuid(::geteuid()); entry && entry->pw_name && *entry->pw_name)
        return entry->pw_name;
    return "user";
}

// The folder `below` the user's profile, made when missing if `create`
// says so; "" when it is not there (no session, not made, a file in the way).
std::string userFolder(const char *below, bool create) {
    if (!plat::hasSession()) return {};
    const std::string name = "C:\\Users\\" + login() + "\\" + below;
    const std::filesystem::path folder = plat::nativePath(name);
    std::error_code error;
    if (create) std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error)) return {};
    return name;
}

}  // namespace

extern "C" HRESULT WINAPI SHGetFolderPathA(HWND, int folder, HANDLE, DWORD, LPSTR path) {
    if (!path) return E_FAIL;
    path[0] = '\0';
    const char *below = nullptr;
    switch (folder & ~CSIDL_FLAG_CREATE) {
    case CSIDL_PERSONAL: below = "Documents"; break;
    case CSIDL_APPDATA: below = "AppData\\Roaming"; break;
    default: return E_FAIL;
    }
    const std::string name = userFolder(below, (folder & CSIDL_FLAG_CREATE) != 0);
    if (name.empty() || name.size() >= MAX_PATH) return E_FAIL;
    std::memcpy(path, name.c_str(), name.size() + 1);
    return S_OK;
}

extern "C" DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
    const std::string folder = userFolder("AppData\\Local\\Temp", true);
    if (folder.empty()) return 0;
    const std::string name = folder + "\\";
    if (!buffer || size <= name.size()) return static_cast<DWORD>(name.size() + 1);
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    return static_cast<DWORD>(name.size());
}
