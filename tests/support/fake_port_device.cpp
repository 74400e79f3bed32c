#include "fake_port_device.h"

#include <linux/ppdev.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

namespace noctil::test {

FakePortDevice::FakePortDevice(std::string path, Kind kind, unsigned major)
    : path_(std::move(path)), kind_(kind), major_(major) {
    plat::setDeviceCalls(this);
}

FakePortDevice::~FakePortDevice() { plat::setDeviceCalls(nullptr); }

void FakePortDevice::unplug(bool quietly) {
    present_ = false;
    if (quietly) quietGeneration_ = generation_;
}

void FakePortDevice::plugIn(Kind kind, unsigned major) {
    present_ = true;
    kind_ = kind;
    major_ = major;
    ++generation_;
}

void FakePortDevice::plugInAt(std::string path, Kind kind, unsigned major) {
    path_ = std::move(path);
    plugIn(kind, major);
}

bool FakePortDevice::ours(int fd) const { return std::find(handles_.begin(), handles_.end(), fd) != handles_.end(); }

int FakePortDevice::generationOf(int fd) const {
    return handleGeneration_[std::size_t(std::find(handles_.begin(), handles_.end(), fd) - handles_.begin())];
}

// Each device plugged in stands at a node of its own.
void FakePortDevice::describe(struct stat *status, int generation) const {
    *status = {};
    status->st_mode = S_IFCHR | 0660;
    status->st_rdev = makedev(major_, 0);
    status->st_dev = makedev(0, 5);
    status->st_ino = static_cast<ino_t>(100 + generation);
}

int FakePortDevice::open(const char *path, int flags) {
    if (path_ != path) return ::open(path, flags);
    if (!present_) {
        errno = ENOENT;
        return -1;
    }
    ++opens;
    handles_.push_back(nextFd_);
    handleGeneration_.push_back(generation_);
    return nextFd_++;
}

int FakePortDevice::close(int fd) {
    const auto at = std::find(handles_.begin(), handles_.end(), fd);
    if (at == handles_.end()) return ::close(fd);
    ++closes;
    handleGeneration_.erase(handleGeneration_.begin() + (at - handles_.begin()));
    handles_.erase(at);
    return 0;
}

int FakePortDevice::ioctl(int fd, unsigned long request, void *argument) {
    const auto at = std::find(handles_.begin(), handles_.end(), fd);
    if (at == handles_.end()) return ::ioctl(fd, request, argument);
    // A handle of a device that was pulled out works no more, or pretends to.
    const int generation = handleGeneration_[std::size_t(at - handles_.begin())];
    if (generation == quietGeneration_) return 0;
    if (!present_ || generation != generation_) {
        errno = EIO;
        return -1;
    }
    const bool parallel = kind_ == Kind::Parallel, serial = kind_ == Kind::Serial;
    switch (request) {
    case PPEXCL:
    case PPCLAIM:
    case PPRELEASE:
        if (parallel) return 0;
        break;
    case PPWDATA:
        if (!parallel) break;
        levels.push_back(*static_cast<unsigned char *>(argument));
        return 0;
    case TIOCMGET:
        if (!serial) break;
        *static_cast<int *>(argument) = TIOCM_DTR | TIOCM_RTS;  // opening raises both
        return 0;
    case TIOCEXCL:
        if (serial) return 0;
        break;
    case TIOCMSET:
        if (!serial) break;
        levels.push_back(*static_cast<int *>(argument) & (TIOCM_DTR | TIOCM_RTS));
        return 0;
    default: break;
    }
    errno = ENOTTY;
    return -1;
}

int FakePortDevice::fstat(int fd, struct stat *status) {
    if (!ours(fd)) return ::fstat(fd, status);
    describe(status, generationOf(fd));
    return 0;
}

int FakePortDevice::stat(const char *path, struct stat *status) {
    if (path_ != path) return ::stat(path, status);
    if (!present_) {
        errno = ENOENT;
        return -1;
    }
    describe(status, generation_);
    return 0;
}

int FakePortDevice::tcgetattr(int fd, termios *settings) {
    if (!ours(fd)) return ::tcgetattr(fd, settings);
    if (kind_ != Kind::Serial) {
        errno = ENOTTY;
        return -1;
    }
    *settings = {};
    settings->c_cflag = HUPCL;
    return 0;
}

int FakePortDevice::tcsetattr(int fd, int when, const termios *settings) {
    if (!ours(fd)) return ::tcsetattr(fd, when, settings);
    return kind_ == Kind::Serial ? 0 : (errno = ENOTTY, -1);
}

}  // namespace noctil::test
