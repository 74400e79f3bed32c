#include "port/port_holder.h"

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

}  // namespace

std::filesystem::path ioPortLockFile(const std::filesystem::path &directory, std::uint16_t base) {
    char name[40];
    std::snprintf(name, sizeof name, "noctil-port-0x%X.lock", base);
    return directory / name;
}

bool lockPort(int fd) {
    int rc;
    do rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    return rc == 0 || errno != EWOULDBLOCK;
}

std::string heldReason(const std::filesystem::path &file) {
    const std::string holder = portHolder(file);
    return "in use by " + (holder.empty() ? std::string("another program") : holder);
}

std::string portHolder(const std::filesystem::path &file) {
    struct stat wanted {};
    if (::stat(file.c_str(), &wanted) != 0) return {};
    const std::string self = std::to_string(::getpid());
    std::error_code error;  // processes come and go while they are looked at: what cannot be read is passed over
    for (const auto &process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename();
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        std::error_code closed;
        for (const auto &fd : std::filesystem::directory_iterator(process.path() / "fd", closed)) {
            struct stat open {};
            if (::stat(fd.path().c_str(), &open) == 0 && sameFile(open, wanted))
                return processName(process.path()) + " (process " + pid + ")";
        }
    }
    return {};
}

}  // namespace plat
