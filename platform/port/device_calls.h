// The system calls the port backends make on their device files, resumed
// when a signal interrupts them before they did anything. They go through
// DeviceCalls, so that a test can put a device that fails and comes back
// in the system's place. KnownDevice tells the port's own device from
// whatever stands at its name later.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>
#include <string>

namespace plat {

class DeviceCalls {
public:
    virtual ~DeviceCalls() = default;
    // As the system calls: a result below 0 with errno set on failure.
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *argument) = 0;
    virtual int fstat(int fd, struct stat *status) = 0;
    virtual int stat(const char *path, struct stat *status) = 0;
    virtual int tcgetattr(int fd, termios *settings) = 0;
    virtual int tcsetattr(int fd, int when, const termios *settings) = 0;
};

// The system's calls, unless a test has set its own (null: the system's again).
DeviceCalls &deviceCalls();
void setDeviceCalls(DeviceCalls *calls);

// The device a backend opened at its name: the first one it ever used, and
// the node it holds open now. A device found there later that is not of the
// first one's kind (another major number, or no character device) came back
// as another device and is not used. A node removed or replaced while it is
// open means the device held is gone, even where its driver still accepts
// writes (ppdev then carries them nowhere, without a word).
class KnownDevice {
public:
    // Looks at the device just opened at `fd`. Empty when it is of the first
    // one's kind, or none was used yet; else what it came back as, for the
    // person.
    std::string cameBackAs(int fd);
    // The device looked at last works: it is the one held now, and the first
    // one if none was used yet.
    void holding();
    bool used() const { return used_; }
    // 0 while `path` still names the node held; else why not, as errno:
    // ENOENT when it is gone, ENODEV when another node stands there.
    int goneFrom(const char *path) const;

private:
    struct stat looked_ {};
    bool lookedIsDevice_ = false;
    dev_t first_ = 0;
    bool used_ = false;
    dev_t heldOn_ = 0;  // the file system and inode of the node held
    ino_t heldNode_ = 0;
};

inline int openRetrying(const char *path, int flags) {
    int fd;
    do fd = deviceCalls().open(path, flags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// `arg` is what the request takes: a pointer to its value, or null.
template <typename Arg>
int ioctlRetrying(int fd, unsigned long request, Arg arg) {
    int rc;
    do rc = deviceCalls().ioctl(fd, request, const_cast<void *>(static_cast<const void *>(arg)));
    while (rc < 0 && errno == EINTR);
    return rc;
}

inline int ioctlRetrying(int fd, unsigned long request, std::nullptr_t) {
    int rc;
    do rc = deviceCalls().ioctl(fd, request, nullptr);
    while (rc < 0 && errno == EINTR);
    return rc;
}

}  // namespace plat
