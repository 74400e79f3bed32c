#include "port/port_holder.h"

#include <cstdio>
#include <vector>

#include "core/file_users.h"

namespace plat {

std::filesystem::path ioPortLockFile(const std::filesystem::path &directory, std::uint16_t base) {
    char name[40];
    std::snprintf(name, sizeof name, "noctil-port-0x%X.lock", base);
    return directory / name;
}

bool lockPort(int fd) { return takeWriteLock(fd); }

std::string heldReason(const std::filesystem::path &file) {
    const std::string holder = portHolder(file);
    return "in use by " + (holder.empty() ? std::string("another program") : holder);
}

std::string portHolder(const std::filesystem::path &file) {
    const std::vector<FileUser> users = fileUsers(file, FileUse::Open, false);
    return users.empty() ? std::string() : describeUser(users.front());
}

}  // namespace plat
