// The calls through which the V4L2 driver reaches a video device: open,
// ioctl, poll, mmap and their undoing. The system's implementation makes
// the system calls; tests put a scripted device in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"

namespace plat::avicap::v4l2 {

class Io {
public:
    virtual ~Io() = default;

    // The device nodes that may be video devices (/dev/video*), in the
    // order of their numbers.
    virtual std::vector<std::string> deviceNodes() = 0;

    // Each call returns 0 on success or the errno value of its failure,
    // EINTR included: the caller decides what to retry.
    virtual int open(const std::string &path, int &fd) = 0;
    virtual void close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *argument) = 0;
    // Waits until a frame can be dequeued or `clock` reaches `deadline`
    // (none: no limit). 0 when readable, ETIMEDOUT at the
    // deadline, another errno value on failure. An error condition of the
    // device counts as readable: dequeuing says which.
    virtual int poll(int fd, std::optional<Micros> deadline, Clock &clock) = 0;
    virtual int mmap(int fd, std::size_t length, std::int64_t offset, void *&address) = 0;
    virtual void munmap(void *address, std::size_t length) = 0;
};

// The system calls.
std::shared_ptr<Io> systemIo();

// "VIDIOC_DQBUF" and so on, for error messages.
const char *requestName(unsigned long request);

}  // namespace plat::avicap::v4l2
