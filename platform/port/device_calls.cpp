#include "port/device_calls.h"

#include <sys/sysmacros.h>
#include <unistd.h>

namespace plat {

namespace {

class SystemCalls final : public DeviceCalls {
public:
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void *argument) override { return ::ioctl(fd, request, argument); }
    int fstat(int fd, struct stat *status) override { return ::fstat(fd, status); }
    int stat(const char *path, struct stat *status) override { return ::stat(path, status); }
    int tcgetattr(int fd, termios *settings) override { return ::tcgetattr(fd, settings); }
    int tcsetattr(int fd, int when, const termios *settings) override { return ::tcsetattr(fd, when, settings); }
};

SystemCalls systemCalls;
DeviceCalls *current = &systemCalls;

}  // namespace

DeviceCalls &deviceCalls() { return *current; }

void setDeviceCalls(DeviceCalls *calls) { current = calls ? calls : &systemCalls; }

std::string KnownDevice::cameBackAs(int fd) {
    looked_ = {};
    lookedIsDevice_ = deviceCalls().fstat(fd, &looked_) == 0 && S_ISCHR(looked_.st_mode);
    if (!used_ || (lookedIsDevice_ && major(looked_.st_rdev) == major(first_))) return {};
    auto number = [](dev_t d) { return std::to_string(major(d)) + ":" + std::to_string(minor(d)); };
    return "came back as another device (device number " + number(looked_.st_rdev) + ", was " + number(first_) + ")";
}

void KnownDevice::holding() {
    if (!used_) first_ = looked_.st_rdev;
    used_ = true;
    heldOn_ = looked_.st_dev;
    heldNode_ = looked_.st_ino;
}

int KnownDevice::goneFrom(const char *path) const {
    struct stat now {};
    int rc;
    do rc = deviceCalls().stat(path, &now);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) return errno == ENOENT ? ENOENT : 0;  // only a name that is gone says the device is
    return now.st_dev == heldOn_ && now.st_ino == heldNode_ ? 0 : ENODEV;
}

}  // namespace plat
