// A camera port device that a test pulls out and plugs back in, put in the
// place of the system calls the port backends make: a ppdev parallel port
// or a serial port at one path, whose data writes (PPWDATA) or modem lines
// (TIOCMSET) are recorded in order. Other paths and handles go to the system.
#pragma once

#include <string>
#include <vector>

#include "port/device_calls.h"

namespace noctil::test {

class FakePortDevice final : public plat::DeviceCalls {
public:
    enum class Kind { Parallel, Serial, Other };

    // Plugged in from the start, with device number major:0.
    FakePortDevice(std::string path, Kind kind, unsigned major);
    ~FakePortDevice() override;  // the system's calls again
    FakePortDevice(const FakePortDevice &) = delete;
    FakePortDevice &operator=(const FakePortDevice &) = delete;

    const std::string &path() const { return path_; }
    // Pulled out: the path is gone (ENOENT). Open handles answer EIO, as a
    // hung-up tty does; or, `quietly`, go on accepting every call and carry
    // nothing, as ppdev does for a port its driver removed.
    void unplug(bool quietly = false);
    // Plugged in again, as this kind of device with this device number.
    void plugIn(Kind kind, unsigned major);
    // The same at another path, as a node the kernel numbered anew.
    void plugInAt(std::string path, Kind kind, unsigned major);

    // PPWDATA bytes, or the TIOCM_DTR | TIOCM_RTS bits of each TIOCMSET.
    std::vector<int> levels;
    int opens = 0, closes = 0;

    int open(const char *path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void *argument) override;
    int fstat(int fd, struct stat *status) override;
    int stat(const char *path, struct stat *status) override;
    int tcgetattr(int fd, termios *settings) override;
    int tcsetattr(int fd, int when, const termios *settings) override;

private:
    bool ours(int fd) const;
    int generationOf(int fd) const;
    void describe(struct stat *status, int generation) const;
    std::string path_;
    Kind kind_;
    unsigned major_;
    bool present_ = true;
    int generation_ = 0;        // plugging in again makes a new device, at a new node
    int quietGeneration_ = -1;  // the device removed quietly
    std::vector<int> handles_;  // open handles, by the generation they belong to
    std::vector<int> handleGeneration_;
    int nextFd_ = 9000;
};

}  // namespace noctil::test
