#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
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

// The camera lines on a serial port's DTR and RTS, for machines without a
// parallel port (a USB serial adapter does). Each line follows one bit of the
// data register, inverted if the wiring needs it; the control register has no
// lines here. Needs access to the device file (group dialout).
class SerialBackend final : public PortBackend {
public:
    SerialBackend(std::filesystem::path device, SerialLines lines, PortFailureSink report)
        : PortBackend(std::move(report)), device_(std::move(device)), lines_(lines) {}

    ~SerialBackend() override {
        if (fd_ < 0) return;
        clearSignalRest();
        ::close(fd_);  // the lines stay as last set: HUPCL is off
    }

    std::string_view name() const override { return "serial"; }

    void write(std::uint16_t address, std::uint8_t value) override {
        if (address != kProgramDataRegister || failed() || !open()) return;
        const int wanted = linesFor(value);
        if (wanted == current_) return;
        // Both lines in one call, so that they change together; the other
        // modem bits (OUT2 gates the UART's interrupt) stay as they were.
        const int bits = others_ | wanted;
        if (ioctlRetrying(fd_, TIOCMSET, &bits) < 0) {
            const int error = errno;
            fail({device_.string(), failureReason(error),
                  "ioctl(" + device_.string() + ", TIOCMSET) failed: " + std::strerror(error)});
            return;
        }
        current_ = wanted;
    }

private:
    // The TIOCM_DTR and TIOCM_RTS bits that are high for a data value.
    int linesFor(std::uint8_t value) const {
        const bool dtr = ((value >> lines_.dtrBit) & 1) != lines_.dtrInverted;
        const bool rts = ((value >> lines_.rtsBit) & 1) != lines_.rtsInverted;
        return (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    }

    void failCall(const char *call, int error, std::string reason) {
        fail({device_.string(), std::move(reason),
              std::string(call) + "(" + device_.string() + ") failed: " + std::strerror(error)});
    }

    // Opens the device at the first write (the rest level the process start
    // writes). Opening raises DTR and RTS on Linux; the first write lowers
    // them again at once.
    bool open() {
        if (fd_ >= 0) return true;
        const int fd = openRetrying(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            failCall("open", error, failureReason(error));
            return false;
        }
        int modem = 0;
        termios tio{};
        if (::ioctl(fd, TIOCMGET, &modem) < 0 || ::tcgetattr(fd, &tio) < 0) {
            const int error = errno;
            failCall("ioctl(TIOCMGET)", error,
                     error == ENOTTY || error == EINVAL ? "not a serial port" : failureReason(error));
            ::close(fd);
            return false;
        }
        // Exclusive, so that no other program opens it meanwhile; and the
        // lines keep their level when the port is closed.
        tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
        if (::ioctl(fd, TIOCEXCL) < 0 || ::tcsetattr(fd, TCSANOW, &tio) < 0) {
            const int error = errno;
            failCall("ioctl(TIOCEXCL)/tcsetattr", error, failureReason(error));
            ::close(fd);
            return false;
        }
        fd_ = fd;
        current_ = modem & (TIOCM_DTR | TIOCM_RTS);
        others_ = modem & ~(TIOCM_DTR | TIOCM_RTS);
        SignalRest signalRest;
        signalRest.write = [](const SignalRest &r) noexcept { return ::ioctl(r.fd, TIOCMSET, &r.modemBits) == 0; };
        signalRest.fd = fd_;
        signalRest.modemBits = others_ | linesFor(0);
        setSignalRest(signalRest);
        return true;
    }

    std::filesystem::path device_;
    SerialLines lines_;
    int fd_ = -1;
    int current_ = 0;
    int others_ = 0;
};

}  // namespace

std::unique_ptr<PortBackend> makeSerialPortBackend(std::filesystem::path device, SerialLines lines,
                                                   PortFailureSink report) {
    return std::make_unique<SerialBackend>(std::move(device), lines, std::move(report));
}

}  // namespace plat
