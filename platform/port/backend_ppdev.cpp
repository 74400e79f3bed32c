#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "port/port_backend.h"
#include "port/device_calls.h"
#include "port/signal_rest.h"

namespace plat {

namespace {

// The parallel port through the kernel's ppdev driver, which needs no
// special privilege beyond access to the device file (group lp).
class PpdevBackend final : public PortBackend {
public:
    PpdevBackend(std::filesystem::path device, PortFailureSink report)
        : PortBackend(std::move(report)), device_(std::move(device)) {}

    ~PpdevBackend() override {
        if (fd_ < 0) return;
        clearSignalRest();
        ioctlRetrying(fd_, PPRELEASE, nullptr);  // closing releases it anyway; the result does not matter
        ::close(fd_);
    }

    std::string_view name() const override { return "ppdev"; }

    void write(std::uint16_t address, std::uint8_t value) override {
        if (failed() || !open()) return;
        unsigned long request;
        const char *call;
        if (address == kProgramDataRegister) {
            request = PPWDATA;
            call = "PPWDATA";
        } else if (address == kProgramDataRegister + 2) {
            request = PPWCONTROL;
            call = "PPWCONTROL";
        } else {
            return;  // the status register is read-only; other addresses are no register of this port
        }
        unsigned char byte = value;
        if (ioctlRetrying(fd_, request, &byte) < 0) {
            const int error = errno;
            fail({device_.string(), failureReason(error),
                  "ioctl(" + device_.string() + ", " + call + ") failed: " + std::strerror(error)});
        }
    }

private:
    // Opens and claims the device at the first write (the rest level the
    // process start writes), so a failure shows at start.
    bool open() {
        if (fd_ >= 0) return true;
        const int fd = openRetrying(device_.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            fail({device_.string(), failureReason(error),
                  "open(" + device_.string() + ") failed: " + std::strerror(error)});
            return false;
        }
        // Exclusive: no other driver may move the camera lines, and a port
        // that another program holds is refused at once instead of waited for.
        for (auto [request, call] : {std::pair{PPEXCL, "PPEXCL"}, std::pair{PPCLAIM, "PPCLAIM"}}) {
            if (ioctlRetrying(fd, request, nullptr) == 0) continue;
            const int error = errno;
            // ppdev registers with the port at the claim; a port that another
            // program or driver holds refuses the registration with ENXIO.
            const std::string reason = error == ENOTTY || error == EINVAL   ? "not a parallel port"
                                       : request == PPCLAIM && error == ENXIO ? failureReason(EBUSY)
                                                                             : failureReason(error);
            fail({device_.string(), reason,
                  std::string("ioctl(") + device_.string() + ", " + call + ") failed: " + std::strerror(error)});
            ::close(fd);
            return false;
        }
        fd_ = fd;
        SignalRest rest;
        rest.write = [](const SignalRest &r) noexcept {
            unsigned char zero = 0;
            return ::ioctl(r.fd, PPWDATA, &zero) == 0;
        };
        rest.fd = fd_;
        setSignalRest(rest);
        return true;
    }

    std::filesystem::path device_;
    int fd_ = -1;
};

}  // namespace

std::unique_ptr<PortBackend> makePpdevPortBackend(std::filesystem::path device, PortFailureSink report) {
    return std::make_unique<PpdevBackend>(std::move(device), std::move(report));
}

}  // namespace plat
