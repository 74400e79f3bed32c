#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "port/port_backend.h"

namespace plat {

namespace {

int ioctlRetrying(int fd, unsigned long request, void *arg) {
    int rc;
    do rc = ::ioctl(fd, request, arg);
    while (rc < 0 && errno == EINTR);
    return rc;
}

// The parallel port through the kernel's ppdev driver, which needs no
// special privilege beyond access to the device file.
class PpdevBackend final : public PortBackend {
public:
    PpdevBackend(std::filesystem::path device, std::uint16_t dataRegister, PortFailureSink report)
        : device_(std::move(device)), dataRegister_(dataRegister), failure_(std::move(report)) {}

    ~PpdevBackend() override {
        if (fd_ < 0) return;
        ioctlRetrying(fd_, PPRELEASE, nullptr);  // closing releases it anyway; the result does not matter
        ::close(fd_);
    }

    std::string_view name() const override { return "ppdev"; }

    void write(std::uint16_t address, std::uint8_t value) override {
        if (failure_.failed() || !open()) return;
        unsigned long request;
        const char *call;
        if (address == dataRegister_) {
            request = PPWDATA;
            call = "ioctl(PPWDATA)";
        } else if (address == dataRegister_ + 2) {
            request = PPWCONTROL;
            call = "ioctl(PPWCONTROL)";
        } else {
            fail("write to I/O address " + std::to_string(address) + ", which is no register of this port");
            return;
        }
        unsigned char byte = value;
        if (ioctlRetrying(fd_, request, &byte) < 0) fail(std::string(call) + " failed: " + std::strerror(errno));
    }

private:
    // Opens and claims the device at the first write, so that a machine whose
    // port is never written never touches it.
    bool open() {
        if (fd_ >= 0) return true;
        int fd;
        do fd = ::open(device_.c_str(), O_RDWR | O_CLOEXEC);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            fail("open(" + device_.string() + ") failed: " + std::strerror(errno));
            return false;
        }
        if (ioctlRetrying(fd, PPCLAIM, nullptr) < 0) {
            fail("ioctl(" + device_.string() + ", PPCLAIM) failed: " + std::strerror(errno));
            ::close(fd);
            return false;
        }
        fd_ = fd;
        return true;
    }

    void fail(const std::string &what) {
        failure_.report("parallel port (ppdev): " + what + "; port writes are only logged from now on");
    }

    std::filesystem::path device_;
    std::uint16_t dataRegister_;
    FailureOnce failure_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<PortBackend> makePpdevPortBackend(std::filesystem::path device, std::uint16_t dataRegister,
                                                  PortFailureSink report) {
    return std::make_unique<PpdevBackend>(std::move(device), dataRegister, std::move(report));
}

}  // namespace plat
