#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "port/port_backend.h"
#include "port/port_holder.h"
#include "port/port_io.h"
#include "port/signal_rest.h"

namespace plat {

namespace {

std::string addressName(std::uint16_t address) {
    char text[32];
    std::snprintf(text, sizeof text, "I/O address 0x%X", address);
    return text;
}

// Output instructions straight to the port's registers, for machines whose
// kernel has no ppdev or whose port card ppdev does not know. Needs the
// privilege to raise the I/O permission (root or CAP_SYS_RAWIO).
class DirectBackend final : public PortBackend {
public:
    DirectBackend(std::uint16_t base, PortFailureSink report, std::filesystem::path lockDirectory)
        : PortBackend(std::move(report)), base_(base), lockFile_(ioPortLockFile(lockDirectory, base)) {}

    ~DirectBackend() override {
        if (permitted_) clearSignalRest();
        if (lockFd_ >= 0) ::close(lockFd_);
    }

    std::string_view name() const override { return "direct"; }

    void write(std::uint16_t address, std::uint8_t value) override {
        if (failed()) return;
        if (address < kProgramDataRegister || address > kProgramDataRegister + 2) return;  // no register of this port
        const auto target = static_cast<std::uint16_t>(base_ + (address - kProgramDataRegister));
#if NOCTIL_HAS_PORT_IO
        if (!permitted_) {
            if (!lock()) return;
            if (::ioperm(base_, 3, 1) != 0) {
                const int error = errno;
                char call[48];
                std::snprintf(call, sizeof call, "ioperm(0x%X, 3, 1)", base_);
                fail(
                    {addressName(base_), failureReason(error), std::string(call) + " failed: " + std::strerror(error)});
                return;
            }
            permitted_ = true;
            SignalRest rest;
            rest.write = [](const SignalRest &r) noexcept {
                ::outb(0, r.address);
                return true;
            };
            rest.address = base_;
            setSignalRest(rest);
        }
        ::outb(value, target);
#else
        (void)value;
        (void)target;
        fail({addressName(base_), "this processor has no I/O instructions", "no port I/O on this architecture"});
#endif
    }

private:
    // One owner (port/port_holder.h): nothing is opened to write an I/O
    // address, so its lock file is. Without a lock directory the port is
    // used unlocked, as before there was one.
    bool lock() {
        if (lockFd_ >= 0) return true;
        int fd = ::open(lockFile_.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        // The lock directory is sticky and open to all: where the kernel
        // protects regular files there, a file another user made refuses an
        // open that may create it, and the lock is still taken on it as it is.
        if (fd < 0 && errno == EACCES) fd = ::open(lockFile_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return true;
        if (!lockPort(fd)) {
            ::close(fd);
            fail({addressName(base_), heldReason(lockFile_), "flock(" + lockFile_.string() + ") refused: held"});
            return false;
        }
        lockFd_ = fd;
        return true;
    }

    std::uint16_t base_;
    std::filesystem::path lockFile_;
    int lockFd_ = -1;
    bool permitted_ = false;
};

}  // namespace

std::unique_ptr<PortBackend> makeDirectPortBackend(std::uint16_t baseAddress, PortFailureSink report,
                                                   const std::filesystem::path &lockDirectory) {
    return std::make_unique<DirectBackend>(baseAddress, std::move(report), lockDirectory);
}

}  // namespace plat
