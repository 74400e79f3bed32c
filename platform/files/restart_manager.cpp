// The restart manager's sessions, as far as the program asks them: the
// files registered, and the processes that hold one of them for writing
// (files/replace_file.h), found under /proc (core/file_users.h). A session
// lives in the platform session until it is ended.
#include <restartmanager.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/session.h"
#include "core/file_users.h"
#include "files/paths.h"

namespace {

constexpr DWORD kInvalidHandle = 6;  // ERROR_INVALID_HANDLE

// A platform session component: the restart manager's sessions open now.
struct RestartSessions {
    DWORD next = 0;
    std::map<DWORD, std::vector<std::filesystem::path>> files;
};

std::vector<std::filesystem::path> *filesOf(DWORD handle) {
    if (!plat::hasSession()) return nullptr;
    auto &sessions = plat::session().component<RestartSessions>().files;
    const auto found = sessions.find(handle);
    return found == sessions.end() ? nullptr : &found->second;
}

// The native name of a Windows name in UTF-16; empty when it is not valid text.
std::filesystem::path nativeName(LPCWSTR wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string name(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, name.data(), size, nullptr, nullptr);
    name.pop_back();
    return plat::nativePath(name);
}

void fillOut(RM_PROCESS_INFO &info, const plat::FileUser &user) {
    info = RM_PROCESS_INFO{};
    info.Process.dwProcessId = DWORD(user.pid);
    const int written =
        MultiByteToWideChar(CP_UTF8, 0, user.name.c_str(), -1, info.strAppName, CCH_RM_MAX_APP_NAME + 1);
    if (written == 0) info.strAppName[0] = 0;  // a name that is no valid text, or too long, is left out
    info.ApplicationType = RmUnknownApp;
}

}  // namespace

extern "C" DWORD WINAPI RmStartSession(DWORD *handle, DWORD, WCHAR key[]) {
    if (!handle || !plat::hasSession()) return ERROR_INVALID_PARAMETER;
    auto &sessions = plat::session().component<RestartSessions>();
    *handle = ++sessions.next;
    sessions.files[*handle];
    if (key) {
        // The key names the session for other processes, which never join one here.
        const std::string text = std::to_string(*handle);
        std::fill(key, key + CCH_RM_SESSION_KEY + 1, WCHAR(0));
        std::copy(text.begin(), text.end(), key);
    }
    return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI RmRegisterResources(DWORD handle, UINT nFiles, LPCWSTR names[], UINT, RM_UNIQUE_PROCESS[], UINT,
                                            LPCWSTR[]) {
    std::vector<std::filesystem::path> *files = filesOf(handle);
    if (!files) return kInvalidHandle;
    if (nFiles > 0 && !names) return ERROR_INVALID_PARAMETER;
    for (UINT i = 0; i < nFiles; ++i) {
        if (!names[i]) return ERROR_INVALID_PARAMETER;
        std::filesystem::path native = nativeName(names[i]);
        if (native.empty()) return ERROR_INVALID_PARAMETER;
        files->push_back(std::move(native));
    }
    return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI RmGetList(DWORD handle, UINT *needed, UINT *room, RM_PROCESS_INFO apps[], LPDWORD reasons) {
    std::vector<std::filesystem::path> *files = filesOf(handle);
    if (!files) return kInvalidHandle;
    if (!needed || !room || (*room > 0 && !apps) || !reasons) return ERROR_INVALID_PARAMETER;
    *reasons = 0;  // nothing here ever needs a restart of the machine
    std::vector<plat::FileUser> users;
    for (const std::filesystem::path &file : *files)
        for (plat::FileUser &user : plat::fileUsers(file, plat::FileUse::Writing, true))
            if (std::none_of(users.begin(), users.end(), [&](const plat::FileUser &u) { return u.pid == user.pid; }))
                users.push_back(std::move(user));
    *needed = UINT(users.size());
    if (users.size() > *room) {
        *room = 0;
        return ERROR_MORE_DATA;
    }
    for (std::size_t i = 0; i < users.size(); ++i) fillOut(apps[i], users[i]);
    *room = UINT(users.size());
    return ERROR_SUCCESS;
}

extern "C" DWORD WINAPI RmEndSession(DWORD handle) {
    if (!filesOf(handle)) return kInvalidHandle;
    plat::session().component<RestartSessions>().files.erase(handle);
    return ERROR_SUCCESS;
}
