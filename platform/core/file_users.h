// Who has a file open: the processes this process may look at under /proc
// (its own user's; every one for root), each with the name the kernel keeps
// for it. What a person is told when a file or a port is another's. And the
// advisory lock (flock) by which a file's writer or a port's owner holds it.
#pragma once

#include <sys/file.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace plat {

// Takes the lock of the open file `fd` without waiting, LOCK_EX (a
// writer's, an owner's) or LOCK_SH (one that goes along with others of its
// kind): false only when another open file holds a lock in its way. A file
// system that takes no locks leaves the file unlocked, as it leaves every
// other.
bool takeLock(int fd, int how);
inline bool takeWriteLock(int fd) { return takeLock(fd, LOCK_EX); }

struct FileUser {
    pid_t pid = 0;
    std::string name;  // "noctil", "indi_noctil_ccd"; "another program" when it cannot be read
};

enum class FileUse {
    Open,     // open in any way
    Writing,  // open for writing
};

// The processes that have `file` open in the way `use` says, in the order
// of their process ids; this process too when `withSelf`.
std::vector<FileUser> fileUsers(const std::filesystem::path &file, FileUse use, bool withSelf);

// Whether this process has `file` open for writing.
bool writtenHere(const std::filesystem::path &file);

// Process `pid` with its name; "another program" as its name when it
// cannot be read.
FileUser processUser(pid_t pid);

// "noctil (process 1234)".
std::string describeUser(const FileUser &user);

}  // namespace plat
