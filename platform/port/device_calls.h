// The system calls the port backends make on their device files, resumed
// when a signal interrupts them before they did anything. They go through
// DeviceCalls, so that a test can put a device that fails and comes back
// in the system's place.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <cerrno>

namespace plat {

class DeviceCalls {
public:
    virtual ~DeviceCalls() = default;
    // As the system calls: a result below 0 with errno set on failure.
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *argument) = 0;
    virtual int fstat(int fd, struct stat *status) = 0;
    virtual int tcgetattr(int fd, termios *settings) = 0;
    virtual int tcsetattr(int fd, int when, const termios *settings) = 0;
};

// The system's calls, unless a test has set its own (null: the system's again).
DeviceCalls &deviceCalls();
void setDeviceCalls(DeviceCalls *calls);

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
