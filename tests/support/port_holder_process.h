// Another process that holds the lock of a camera port's file (its device,
// or an I/O address's lock file) until it is let go: what the program or
// the INDI driver driving that port looks like to the other.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace noctil::test {

class PortHolderProcess {
public:
    explicit PortHolderProcess(const std::filesystem::path &file) {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls in the child of a threaded process.
            // Its copy of the release pipe's end is closed, so that the
            // parent's closing ends the wait.
            close(ready[0]);
            close(release[1]);
            const int fd = open(file.c_str(), O_RDONLY | O_CREAT, 0644);
            const char held = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 1 : 0;
            (void)!write(ready[1], &held, 1);
            char byte;
            (void)!read(release[0], &byte, 1);  // until the parent closes its end
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        releaseFd_ = release[1];
        char held = 0;
        holding_ = read(ready[0], &held, 1) == 1 && held == 1;
        close(ready[0]);
    }
    ~PortHolderProcess() {
        if (releaseFd_ >= 0) close(releaseFd_);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }
    bool holding() const { return holding_; }
    // "platform_core_t (process 1234)": the name the kernel keeps for it.
    std::string named() const {
        std::ifstream comm("/proc/" + std::to_string(pid_) + "/comm");
        std::string name;
        std::getline(comm, name);
        return name + " (process " + std::to_string(pid_) + ")";
    }

private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool holding_ = false;
};

}  // namespace noctil::test
