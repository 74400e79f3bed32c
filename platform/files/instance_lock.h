// One Noctil on a platform root at a time: two would share the drives, the
// settings and the camera port. A second one still starts (to set up, to
// look at images), and is told of the first, which it names.
//
// The lock is an advisory flock of a file under the root, taken for the
// process's life: the kernel lets it go when the process ends however it
// ends, so a first one that crashed never keeps a second from taking it. The
// file holds the process id of the process holding it, for the one after.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace plat {

class Session;

// "<root>/noctil.lock".
std::filesystem::path instanceLockFile(const std::filesystem::path &root);

class InstanceLock {
public:
    // Takes the lock of `file` without waiting; where another holds it, the
    // other is known instead.
    explicit InstanceLock(const std::filesystem::path &file);
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // The process that holds the lock when this one could not take it:
    // "noctil (process 1234)", or "another program" when its id cannot be
    // read yet.
    const std::optional<std::string> &otherHolder() const { return other_; }

private:
    int fd_ = -1;
    std::optional<std::string> other_;
};

// Takes the lock of the session's root; where another Noctil holds it, the
// person is told in a box once the program's message loop runs (and on
// standard error), and the program goes on.
std::unique_ptr<InstanceLock> takeInstanceLock(Session &session);

// What that box says.
std::string otherInstanceText(const std::string &holder);

}  // namespace plat
