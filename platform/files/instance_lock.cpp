#include "files/instance_lock.h"

#include <fcntl.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/notices.h"
#include "core/session.h"
#include "core/file_users.h"

namespace plat {

namespace {

// The process id the holder wrote into the file; 0 before it has.
pid_t recordedHolder(int fd) {
    char text[24] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    if (n <= 0) return 0;
    char *end = nullptr;
    const long pid = std::strtol(text, &end, 10);
    return end != text && pid > 0 ? pid_t(pid) : 0;
}

}  // namespace

std::filesystem::path instanceLockFile(const std::filesystem::path &root) { return root / "noctil.lock"; }

InstanceLock::InstanceLock(const std::filesystem::path &file) {
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;  // a root that cannot be written keeps nobody out, as it keeps nothing else
    if (!takeWriteLock(fd)) {
        const pid_t holder = recordedHolder(fd);
        ::close(fd);
        if (holder != 0) {
            other_ = describeUser(processUser(holder));
        } else {
            const std::vector<FileUser> users = fileUsers(file, FileUse::Open, false);
            other_ = users.empty() ? std::string("another program") : describeUser(users.front());
        }
        return;
    }
    fd_ = fd;
    // The id of a holder that ended is replaced by this one's.
    const std::string text = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, text.data(), text.size(), 0) != ssize_t(text.size())) {
        // The lock holds without the id: the next one is told of "another program".
    }
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<InstanceLock> takeInstanceLock(Session &session) {
    auto lock = std::make_unique<InstanceLock>(instanceLockFile(session.root()));
    if (lock->otherHolder()) {
        const std::string text = otherInstanceText(*lock->otherHolder());
        std::fprintf(stderr, "noctil: %s\n", text.c_str());  // for whoever started it from a terminal or a script
        session.component<Notices>().post({text, "Another Noctil", MB_OK | MB_ICONINFORMATION});
    }
    return lock;
}

std::string otherInstanceText(const std::string &holder) {
    return "Noctil is running already on these drives and settings: " + holder +
           ".\nThis one can set up and show images, but it cannot record into a file the other is writing or "
           "drive a camera port the other drives.";
}

}  // namespace plat
