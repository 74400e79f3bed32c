#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "port/port_backend.h"
#include "port/device_calls.h"
#include "port/port_holder.h"
#include "port/signal_rest.h"

namespace plat {

namespace {

// The parallel port through the kernel's ppdev driver, which needs no
// special privilege beyond access to the device file (group lp). A device
// that fails is closed; every later write tries to open it again, silently,
// until it is back.
class PpdevBackend final : public PortBackend {
public:
    PpdevBackend(std::filesystem::path device, PortFailureSink report)
        : PortBackend(std::move(report)), device_(std::move(device)) {}

    ~PpdevBackend() override { closeDevice(); }

    std::string_view name() const override { return "ppdev"; }

    void write(std::uint16_t address, std::uint8_t value) override {
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
        if (!open()) return;
        unsigned char byte = value;
        if (ioctlRetrying(fd_, request, &byte) < 0) {
            const int error = errno;
            lost(ioctlFailed(call, error), error);
            return;
        }
        // The port's driver takes writes to a port that was removed and
        // carries them nowhere without a word: only its node going tells.
        // Letting go of it at once frees its number, so that the port comes
        // back under its own name; the next write opens it again.
        if (const int error = known_.goneFrom(device_.c_str()))
            lost(device_.string() + " was removed while open: " + std::strerror(error), error);
    }

private:
    void closeDevice() {
        if (fd_ < 0) return;
        clearSignalRest();
        ioctlRetrying(fd_, PPRELEASE, nullptr);  // closing releases it anyway; the result does not matter
        deviceCalls().close(fd_);
        fd_ = -1;
    }

    std::string ioctlFailed(const char *call, int error) const {
        return "ioctl(" + device_.string() + ", " + call + ") failed: " + std::strerror(error);
    }

    // A write failed or the device went: it is let go, so that it can come back.
    void lost(std::string detail, int error) {
        fail({device_.string(), failureReason(error), std::move(detail)});
        closeDevice();
        lost_ = true;
    }

    // Opens and claims the device at the first write (the rest level the
    // process start writes), so a failure shows at start; after a failure,
    // at every write until it is back, when the rest level goes out first.
    bool open() {
        if (fd_ >= 0) return true;
        const int fd = openRetrying(device_.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            fail({device_.string(), failureReason(error),
                  "open(" + device_.string() + ") failed: " + std::strerror(error)});
            lost_ = true;
            return false;
        }
        if (const std::string other = known_.cameBackAs(fd); !other.empty()) {
            notUsed(fd, other);
            return false;
        }
        // One owner (port/port_holder.h): the program and the INDI driver
        // refuse each other's port by name.
        if (!lockPort(fd)) {
            deviceCalls().close(fd);
            if (!failed()) fail({device_.string(), heldReason(device_), "flock(" + device_.string() + ") refused: held"});
            lost_ = true;
            return false;
        }
        // Exclusive: no other driver may move the camera lines, and a port
        // that another program holds is refused at once instead of waited for.
        for (auto [request, call] : {std::pair{PPEXCL, "PPEXCL"}, std::pair{PPCLAIM, "PPCLAIM"}}) {
            if (ioctlRetrying(fd, request, nullptr) == 0) continue;
            const int error = errno;
            const bool notAPort = error == ENOTTY || error == EINVAL;
            if (known_.used() && notAPort) {
                notUsed(fd, "came back as something that is not a parallel port");
                return false;
            }
            // ppdev registers with the port at the claim; a port that another
            // program or driver holds refuses the registration with ENXIO.
            const std::string reason = notAPort                               ? "not a parallel port"
                                       : request == PPCLAIM && error == ENXIO ? failureReason(EBUSY)
                                                                              : failureReason(error);
            fail({device_.string(), reason,
                  std::string("ioctl(") + device_.string() + ", " + call + ") failed: " + std::strerror(error)});
            deviceCalls().close(fd);
            lost_ = true;
            return false;
        }
        fd_ = fd;
        known_.holding();
        SignalRest rest;
        rest.write = [](const SignalRest &r) noexcept {
            unsigned char zero = 0;
            return ::ioctl(r.fd, PPWDATA, &zero) == 0;
        };
        rest.fd = fd_;
        setSignalRest(rest);
        if (lost_) {
            lost_ = false;
            otherToldOf_ = false;
            recovered();
            std::fprintf(stderr, "noctil: camera port %s is back; the lines go to rest first\n", device_.c_str());
            unsigned char restLevel = 0x00;
            if (ioctlRetrying(fd_, PPWDATA, &restLevel) < 0) {
                const int error = errno;
                lost(ioctlFailed("PPWDATA", error), error);
                return false;
            }
        }
        return true;
    }

    // A device at the port's name that is not the port's: told, not used.
    void notUsed(int fd, const std::string &what) {
        if (fd >= 0) deviceCalls().close(fd);
        if (!otherToldOf_) failAlso({device_.string(), what, device_.string() + " " + what + "; not used", true});
        otherToldOf_ = true;
    }

    std::filesystem::path device_;
    int fd_ = -1;
    KnownDevice known_;
    bool lost_ = false;         // it failed and is not open
    bool otherToldOf_ = false;  // another device at its name was reported
};

}  // namespace

std::unique_ptr<PortBackend> makePpdevPortBackend(std::filesystem::path device, PortFailureSink report) {
    return std::make_unique<PpdevBackend>(std::move(device), std::move(report));
}

}  // namespace plat
