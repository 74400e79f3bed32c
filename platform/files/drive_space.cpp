#include "files/drive_space.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "core/session.h"
#include "files/paths.h"

namespace plat {

namespace fs = std::filesystem;

namespace {

struct DriveSizes {
    std::map<char, std::uint64_t> bytes;  // by lower-case letter
};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The bytes the regular files under `dir` take, apart from the file `skip`.
std::uint64_t bytesUsed(const fs::path &dir, const struct stat &skip) {
    std::uint64_t used = 0;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (st.st_dev == skip.st_dev && st.st_ino == skip.st_ino) continue;
        used += std::uint64_t(st.st_size);
    }
    return used;
}

}  // namespace

void setDriveSize(char letter, std::optional<std::uint64_t> bytes) {
    // A drive given a size is a drive of this machine: its directory exists.
    std::error_code ignored;  // a failure shows in the file call that needs the drive
    std::filesystem::create_directories(driveDirectory(letter), ignored);
    auto &sizes = session().component<DriveSizes>().bytes;
    if (bytes)
        sizes[lowerAscii(letter)] = *bytes;
    else
        sizes.erase(lowerAscii(letter));
}

bool driveHasRoom(int fd, std::uint64_t end) {
    if (!hasSession()) return true;
    const auto &sizes = session().component<DriveSizes>().bytes;
    if (sizes.empty()) return true;  // the usual case: no drive has a size
    struct stat file {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) return true;
    for (const auto &[letter, size] : sizes) {
        const fs::path dir = driveDirectory(letter);
        struct stat top {};
        if (::stat(dir.c_str(), &top) != 0 || top.st_dev != file.st_dev) continue;
        std::error_code ec;
        const fs::path where = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
        if (ec) continue;
        const std::string prefix = fs::weakly_canonical(dir, ec).string() + "/";
        if (where.string().compare(0, prefix.size(), prefix) != 0) continue;
        const std::uint64_t grown = std::max<std::uint64_t>(end, std::uint64_t(file.st_size));
        if (bytesUsed(dir, file) + grown > size) {
            errno = ENOSPC;
            return false;
        }
        return true;
    }
    return true;
}

}  // namespace plat
