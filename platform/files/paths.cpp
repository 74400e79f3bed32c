#include "files/paths.h"

#include <windows.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <system_error>

#include "core/session.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kWindowsFolder = "WINDOWS";

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowerAscii(x) == lowerAscii(y); });
}

// The components of a Windows name after its drive, joined by '/' into
// `out`, with "." dropped and ".." taking the previous component away; at
// the top of the drive ".." stays there, as it does on Windows.
void normalizeComponents(std::string_view rest, std::string &out) {
    out.clear();
    std::size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && isSeparator(rest[i])) ++i;
        std::size_t end = i;
        while (end < rest.size() && !isSeparator(rest[end])) ++end;
        const std::string_view part = rest.substr(i, end - i);
        i = end;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            const std::size_t slash = out.rfind('/');
            out.erase(slash == std::string::npos ? 0 : slash);
            continue;
        }
        if (!out.empty()) out += '/';
        out.append(part);
    }
}

bool entryExists(const char *path) {
    struct stat st {};
    return ::lstat(path, &st) == 0;
}

bool isDirectory(const char *path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes the directory `path` and those above it that are missing; failures
// show in the file call that follows.
void ensureDirectory(std::string &path) {
    if (isDirectory(path.c_str())) return;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        path[slash] = '\0';
        ::mkdir(path.c_str(), 0777);
        path[slash] = '/';
    }
    ::mkdir(path.c_str(), 0777);
}

// `path` ends in a component starting at `nameStart`. When no entry of that
// name exists, the component becomes the first (in byte order) of the
// directory's entries that differ from it only in letter case, if any. The
// directory is read with getdents64 into a buffer on the stack: the file
// calls ask this for every name and must not allocate.
void matchCase(std::string &path, std::size_t nameStart) {
    if (entryExists(path.c_str())) return;
    const std::string_view name(path.data() + nameStart, path.size() - nameStart);
    if (name.size() > NAME_MAX) return;
    int dir;
    if (nameStart <= 1) {
        dir = ::open(nameStart == 1 ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
        path[nameStart - 1] = '\0';
        dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        path[nameStart - 1] = '/';
    }
    if (dir < 0) return;
    char best[NAME_MAX + 1];
    std::size_t bestLength = 0;
    alignas(8) char entries[8192];
    for (;;) {
        const ssize_t got = ::getdents64(dir, entries, sizeof entries);
        if (got <= 0) break;
        for (ssize_t at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const struct dirent64 *>(entries + at);
            at += entry->d_reclen;
            const std::string_view candidate(entry->d_name);
            if (!equalsIgnoringCase(candidate, name)) continue;
            if (bestLength != 0 && candidate >= std::string_view(best, bestLength)) continue;
            std::memcpy(best, candidate.data(), candidate.size());
            bestLength = candidate.size();
        }
    }
    ::close(dir);
    if (bestLength != 0) path.replace(nameStart, path.size() - nameStart, best, bestLength);
}

// Appends `/part` to `path`, found apart from letter case.
void appendEntry(std::string &path, std::string_view part) {
    path += '/';
    const std::size_t nameStart = path.size();
    path.append(part);
    matchCase(path, nameStart);
}

// Appends the components of a name below its drive's directory `out`,
// matching the case of those that exist.
void appendRest(std::string_view remaining, std::string &out);

void resolveOnDrive(char letter, std::string_view rest, std::string &out) {
    thread_local std::string parts;  // keeps its room from name to name
    normalizeComponents(rest, parts);
    std::string_view remaining = parts;
    const std::string &root = session().root().native();
    out.assign(root);
    const std::size_t firstEnd = std::min(remaining.find('/'), remaining.size());
    if (lowerAscii(letter) == 'c' && equalsIgnoringCase(remaining.substr(0, firstEnd), kWindowsFolder)) {
        // C:\WINDOWS is the Windows directory, which lives beside the drives.
        out += "/windows";
        remaining.remove_prefix(std::min(firstEnd + 1, remaining.size()));
    } else {
        // A drive of this machine is a directory under drives/: C is made
        // with the root, and another drive exists only where its directory
        // does, so a name on a drive that is not there finds no path (as on
        // Windows) and creates nothing.
        out += "/drives/";
        out += lowerAscii(letter);
        if (lowerAscii(letter) != 'c') return appendRest(remaining, out);
    }
    ensureDirectory(out);
    appendRest(remaining, out);
}

void appendRest(std::string_view remaining, std::string &out) {
    bool searching = true;
    while (!remaining.empty()) {
        const std::size_t end = std::min(remaining.find('/'), remaining.size());
        const std::string_view part = remaining.substr(0, end);
        remaining.remove_prefix(std::min(end + 1, remaining.size()));
        if (searching) {
            appendEntry(out, part);
            searching = isDirectory(out.c_str());
        } else {
            out += '/';
            out.append(part);
        }
    }
}

}  // namespace

fs::path entryIgnoringCase(const fs::path &dir, std::string_view name) {
    std::string path = dir.native();
    if (path.empty()) {
        path.append(name);
        matchCase(path, 0);
    } else {
        if (path.back() == '/') path.pop_back();
        appendEntry(path, name);
    }
    return fs::path(std::move(path));
}

bool replaceableAsFile(const fs::path &file) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec))) return true;
    return fs::is_regular_file(fs::status(file, ec));
}

unsigned long windowsNameError(std::string_view name) {
    if (name.starts_with("\\\\?\\")) return ERROR_SUCCESS;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool driveColon = c == ':' && i == 1 && isAsciiLetter(name[0]);
        if (c < 0x20 || (!driveColon && std::strchr("<>:\"|?*", c) != nullptr)) return ERROR_INVALID_NAME;
    }
    return ERROR_SUCCESS;
}

fs::path driveDirectory(char letter) { return session().root() / "drives" / std::string(1, lowerAscii(letter)); }

void nativePathInto(std::string_view name, std::string &out) {
    if (!hasSession() || name.empty()) {
        out.assign(name);
        return;
    }
    // "C:\x", "c:/x", "C:x" (relative to the drive, whose current directory
    // is its top) and "C:".
    if (name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == ':')
        return resolveOnDrive(name[0], name.substr(2), out);
    // "\\server\share" and "\\?\..." name network shares and devices, which
    // this machine does not have.
    if (name.size() >= 2 && name[0] == '\\' && isSeparator(name[1])) {
        out.assign(name);
        return;
    }
    // "\x": the top of the current drive, which is C.
    if (name[0] == '\\') return resolveOnDrive('c', name, out);
    // A native absolute path is used as it is.
    out.assign(name);
    if (name[0] != '/') std::replace(out.begin(), out.end(), '\\', '/');
}

fs::path nativePath(std::string_view name) {
    std::string out;
    nativePathInto(name, out);
    return fs::path(std::move(out));
}

fs::path windowsDirectory() {
    fs::path dir = session().root() / "windows";
    std::error_code ec;
    fs::create_directories(dir, ec);  // a failure shows in the file call that follows
    return dir;
}

}  // namespace plat
