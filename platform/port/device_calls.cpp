#include "port/device_calls.h"

#include <unistd.h>

namespace plat {

namespace {

class SystemCalls final : public DeviceCalls {
public:
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void *argument) override { return ::ioctl(fd, request, argument); }
    int fstat(int fd, struct stat *status) override { return ::fstat(fd, status); }
    int tcgetattr(int fd, termios *settings) override { return ::tcgetattr(fd, settings); }
    int tcsetattr(int fd, int when, const termios *settings) override { return ::tcsetattr(fd, when, settings); }
};

SystemCalls systemCalls;
DeviceCalls *current = &systemCalls;

}  // namespace

DeviceCalls &deviceCalls() { return *current; }

void setDeviceCalls(DeviceCalls *calls) { current = calls ? calls : &systemCalls; }

}  // namespace plat
