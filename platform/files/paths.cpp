#include "files/paths.h"

#include <algorithm>
#include <span>
#include <string>
#include <system_error>
#include <vector>

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

// The components of a Windows name after its drive, with "." dropped and ".."
// taking the previous component away; at the top of the drive ".." stays
// there, as it does on Windows.
std::vector<std::string_view> components(std::string_view rest) {
    std::vector<std::string_view> parts;
    std::size_t i = 0;
    while (i < rest.size()) {
        while (i < rest.size() && isSeparator(rest[i])) ++i;
        std::size_t end = i;
        while (end < rest.size() && !isSeparator(rest[end])) ++end;
        std::string_view part = rest.substr(i, end - i);
        i = end;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

std::string findEntry(const fs::path &dir, std::string_view name) {
    std::error_code ec;
    std::string exact(name);
    if (fs::exists(fs::symlink_status(dir / exact, ec))) return exact;
    std::string best;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::string candidate = it->path().filename().string();
        if (equalsIgnoringCase(candidate, name) && (best.empty() || candidate < best)) best = std::move(candidate);
    }
    return best.empty() ? exact : best;
}

fs::path resolveOnDrive(char letter, std::string_view rest) {
    const std::vector<std::string_view> parts = components(rest);
    std::error_code ec;
    fs::path result;
    std::size_t first = 0;
    if (lowerAscii(letter) == 'c' && !parts.empty() && equalsIgnoringCase(parts[0], kWindowsFolder)) {
        // C:\WINDOWS is the Windows directory, which lives beside the drives.
        result = windowsDirectory();
        first = 1;
    } else {
        result = driveDirectory(letter);
        // Every drive letter is a drive of this machine: its directory is
        // made the first time a name on it is used.
        fs::create_directories(result, ec);  // a failure shows in the file call that follows
    }
    bool searching = true;
    for (std::string_view part : std::span(parts).subspan(first)) {
        if (searching) {
            std::string entry = findEntry(result, part);
            result /= entry;
            searching = fs::is_directory(result, ec);
        } else {
            result /= std::string(part);
        }
    }
    return result;
}

}  // namespace

fs::path entryIgnoringCase(const fs::path &dir, std::string_view name) { return dir / findEntry(dir, name); }

bool replaceableAsFile(const fs::path &file) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file, ec))) return true;
    return fs::is_regular_file(fs::status(file, ec));
}

fs::path driveDirectory(char letter) { return session().root() / "drives" / std::string(1, lowerAscii(letter)); }

fs::path nativePath(std::string_view name) {
    if (!hasSession() || name.empty()) return fs::path(std::string(name));
    // "C:\x", "c:/x", "C:x" (relative to the drive, whose current directory
    // is its top) and "C:".
    if (name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == ':') return resolveOnDrive(name[0], name.substr(2));
    // "\\server\share" and "\\?\..." name network shares and devices, which
    // this machine does not have.
    if (name.size() >= 2 && name[0] == '\\' && isSeparator(name[1])) return fs::path(std::string(name));
    // "\x": the top of the current drive, which is C.
    if (name[0] == '\\') return resolveOnDrive('c', name);
    // A native absolute path is used as it is.
    if (name[0] == '/') return fs::path(std::string(name));
    std::string relative(name);
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return fs::path(relative);
}

fs::path windowsDirectory() {
    fs::path dir = session().root() / "windows";
    std::error_code ec;
    fs::create_directories(dir, ec);  // a failure shows in the file call that follows
    return dir;
}

void prepareRoot(const fs::path &root) {
    std::error_code ec;
    // Failures are deliberately ignored here: an unwritable root shows up as
    // the failing file call that needed it.
    fs::create_directories(root / "drives" / "c", ec);
    fs::create_directories(root / "windows", ec);
}

}  // namespace plat
