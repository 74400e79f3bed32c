#include "core/file_users.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace plat {

namespace {

bool sameFile(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_rdev == b.st_rdev;
}

std::string processName(const std::filesystem::path &process) {
    std::ifstream comm(process / "comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "another program" : name;
}

// Whether the descriptor at /proc/<pid>/fd/<n> was opened for writing: its
// fdinfo's "flags:" line holds the open flags in octal.
bool openForWriting(const std::filesystem::path &process, const std::string &fd) {
    std::ifstream info(process / "fdinfo" / fd);
    std::string key;
    while (info >> key) {
        if (key != "flags:") continue;
        unsigned long flags = 0;
        info >> std::oct >> flags;
        return (flags & O_ACCMODE) != O_RDONLY;
    }
    return false;
}

// Whether the process of /proc/<pid> `process` has the file `wanted` open as `use` says.
bool processUses(const std::filesystem::path &process, const struct stat &wanted, FileUse use) {
    std::error_code closed;
    for (const auto &fd : std::filesystem::directory_iterator(process / "fd", closed)) {
        struct stat open {};
        if (::stat(fd.path().c_str(), &open) != 0 || !sameFile(open, wanted)) continue;
        if (use == FileUse::Writing && !openForWriting(process, fd.path().filename())) continue;
        return true;
    }
    return false;
}

}  // namespace

bool takeLock(int fd, int how) {
    int rc;
    do rc = ::flock(fd, how | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    return rc == 0 || errno != EWOULDBLOCK;
}

std::vector<FileUser> fileUsers(const std::filesystem::path &file, FileUse use, bool withSelf) {
    std::vector<FileUser> users;
    struct stat wanted {};
    if (::stat(file.c_str(), &wanted) != 0) return users;
    const std::string self = std::to_string(::getpid());
    std::error_code error;  // processes come and go while they are looked at: what cannot be read is passed over
    for (const auto &process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        if (pid == self && !withSelf) continue;
        if (processUses(process.path(), wanted, use))
            users.push_back({static_cast<pid_t>(std::stol(pid)), processName(process.path())});
    }
    std::sort(users.begin(), users.end(), [](const FileUser &a, const FileUser &b) { return a.pid < b.pid; });
    return users;
}

bool writtenHere(const std::filesystem::path &file) {
    struct stat wanted {};
    return ::stat(file.c_str(), &wanted) == 0 && processUses("/proc/self", wanted, FileUse::Writing);
}

FileUser processUser(pid_t pid) { return {pid, processName("/proc/" + std::to_string(pid))}; }

std::string describeUser(const FileUser &user) { return user.name + " (process " + std::to_string(user.pid) + ")"; }

}  // namespace plat
