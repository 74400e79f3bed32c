// The system calls the port backends make on their device files, resumed
// when a signal interrupts them before they did anything.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>

#include <cerrno>

namespace plat {

inline int openRetrying(const char *path, int flags) {
    int fd;
    do fd = ::open(path, flags);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// `arg` is what the request takes: a pointer to its value, or null.
template <typename Arg>
int ioctlRetrying(int fd, unsigned long request, Arg arg) {
    int rc;
    do rc = ::ioctl(fd, request, arg);
    while (rc < 0 && errno == EINTR);
    return rc;
}

}  // namespace plat
