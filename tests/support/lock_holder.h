// Another process that holds a file's lock as a second program would: the
// owner of a camera port (its device or lock file opened for reading), or
// the writer of a file (opened for writing). It holds the lock until the
// test lets it go, or, standing for a program that crashed, ends at once
// and leaves the file behind with no lock on it. Locks belong to open files
// and processes, so the second one must be a process of its own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace noctil::test {

class LockHolder {
public:
    enum class Open { Reading, Writing };
    enum class Ending { WhenLetGo, AtOnce };

    explicit LockHolder(const std::filesystem::path &file, Open open = Open::Reading,
                        Ending ending = Ending::WhenLetGo);
    ~LockHolder();
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    // It took the lock (and, ending at once, has ended since).
    bool held() const { return held_; }
    pid_t pid() const { return pid_; }
    // "platform_core_t (process 1234)": the name the kernel keeps for it, as
    // the platform names a holder; read while it holds the lock.
    std::string named() const;

private:
    pid_t pid_ = -1;
    int releaseFd_ = -1;
    bool held_ = false;
};

}  // namespace noctil::test
