#include "lock_holder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace noctil::test {

LockHolder::LockHolder(const std::filesystem::path &file, Open open, Ending ending) {
    int ready[2], release[2];
    if (pipe(ready) != 0) return;
    if (pipe(release) != 0) {
        close(ready[0]);
        close(ready[1]);
        return;
    }
    const int flags = open == Open::Writing ? O_WRONLY | O_CREAT : O_RDONLY | O_CREAT;
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls in the child of a threaded process.
        // Its copy of the release pipe's end is closed, so that the parent's
        // closing ends the wait.
        close(ready[0]);
        close(release[1]);
        const int fd = ::open(file.c_str(), flags, 0644);
        const char took = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 1 : 0;
        (void)!write(ready[1], &took, 1);
        if (ending == Ending::WhenLetGo) {
            char byte;
            (void)!read(release[0], &byte, 1);  // until the parent closes its end
        }
        _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    releaseFd_ = release[1];
    char took = 0;
    held_ = pid_ > 0 && read(ready[0], &took, 1) == 1 && took == 1;
    close(ready[0]);
    if (ending == Ending::AtOnce && pid_ > 0) {
        waitpid(pid_, nullptr, 0);  // the kernel has let its lock go
        pid_ = -pid_;               // ended: nothing to wait for again
    }
}

LockHolder::~LockHolder() {
    if (releaseFd_ >= 0) close(releaseFd_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
}

std::string LockHolder::named() const {
    std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name + " (process " + std::to_string(pid_) + ")";
}

}  // namespace noctil::test
