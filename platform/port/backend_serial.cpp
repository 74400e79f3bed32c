#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "port/port_backend.h"
#include "port/device_calls.h"
#include "port/device_identity.h"
#include "port/port_holder.h"
#include "port/signal_rest.h"

namespace plat {

namespace {

// The camera lines on a serial port's DTR and RTS, for machines without a
// parallel port (a USB serial adapter does). Each line follows one bit of the
// data register, inverted if the wiring needs it; the control register has no
// lines here. Needs access to the device file (group dialout). An adapter
// pulled out is closed; every later write tries to open it again, silently,
// until it is back.
class SerialBackend final : public PortBackend {
public:
    SerialBackend(std::filesystem::path device, SerialLines lines, PortFailureSink report, DeviceTree tree)
        : PortBackend(std::move(report)), device_(std::move(device)), lines_(lines), tree_(std::move(tree)) {}

    ~SerialBackend() override { closeDevice(); }  // the lines stay as last set: HUPCL is off

    std::string_view name() const override { return "serial"; }

    void write(std::uint16_t address, std::uint8_t value) override {
        if (address != kProgramDataRegister || !open()) return;
        setLines(linesFor(value));
    }

private:
    // Both lines in one call, so that they change together; the other
    // modem bits (OUT2 gates the UART's interrupt) stay as they were.
    // A write that leaves the lines as they are still asks the adapter for
    // them, so that one pulled out is noticed at that write too.
    bool setLines(int wanted) {
        if (wanted == current_) {
            int modem = 0;
            return ioctlRetrying(fd_, TIOCMGET, &modem) >= 0 || linesLost("TIOCMGET");
        }
        const int bits = others_ | wanted;
        if (ioctlRetrying(fd_, TIOCMSET, &bits) < 0) return linesLost("TIOCMSET");
        current_ = wanted;
        return true;
    }

    // The adapter did not answer: it is let go, so that it can come back. False.
    bool linesLost(const char *call) {
        const int error = errno;
        fail({device_.string(), failureReason(error),
              "ioctl(" + device_.string() + ", " + call + ") failed: " + std::strerror(error)});
        closeDevice();
        lost_ = true;
        return false;
    }

    // The TIOCM_DTR and TIOCM_RTS bits that are high for a data value.
    int linesFor(std::uint8_t value) const {
        const bool dtr = ((value >> lines_.dtrBit) & 1) != lines_.dtrInverted;
        const bool rts = ((value >> lines_.rtsBit) & 1) != lines_.rtsInverted;
        return (dtr ? TIOCM_DTR : 0) | (rts ? TIOCM_RTS : 0);
    }

    void closeDevice() {
        if (fd_ < 0) return;
        clearSignalRest();
        deviceCalls().close(fd_);
        fd_ = -1;
    }

    void failCall(const char *call, int error, std::string reason) {
        fail({device_.string(), std::move(reason),
              std::string(call) + "(" + device_.string() + ") failed: " + std::strerror(error)});
        lost_ = true;
    }

    // A device at the port's name that is not the port's: told, not used.
    void notUsed(int fd, const std::string &what) {
        if (fd >= 0) deviceCalls().close(fd);
        if (!otherToldOf_) failAlso({device_.string(), what, device_.string() + " " + what + "; not used", true});
        otherToldOf_ = true;
    }

    // The node to open: the one the adapter's name under /dev/serial/by-id
    // (recorded at the first open) leads to now, which the kernel may have
    // numbered anew; the configured path while no such name is known.
    std::optional<std::filesystem::path> nodeToOpen() {
        if (identity_.empty() && device_.parent_path() == tree_.dev / "serial" / "by-id")
            identity_ = device_.filename().string();  // configured by that name
        if (identity_.empty()) return device_;
        return nodeOfSerialIdentity(tree_, identity_);
    }

    // Opens the device at the first write (the rest level the process start
    // writes); after a failure, at every write until it is back, when the
    // rest level goes out first. Opening raises DTR and RTS on Linux; the
    // first write lowers them again at once.
    bool open() {
        if (fd_ >= 0) return true;
        const std::optional<std::filesystem::path> node = nodeToOpen();
        if (!node) {
            failCall("open", ENOENT, failureReason(ENOENT));  // the adapter is not plugged in
            return false;
        }
        const int fd = openRetrying(node->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            failCall("open", error, failureReason(error));
            return false;
        }
        if (const std::string other = known_.cameBackAs(fd); !other.empty()) {
            notUsed(fd, other);
            return false;
        }
        // One owner (port/port_holder.h): TIOCEXCL below does not hold
        // against root; the lock does, and names who holds the port.
        if (!lockPort(fd)) {
            deviceCalls().close(fd);
            if (!failed()) failCall("flock", EWOULDBLOCK, heldReason(device_));
            lost_ = true;
            return false;
        }
        int modem = 0;
        termios tio{};
        if (ioctlRetrying(fd, TIOCMGET, &modem) < 0 || deviceCalls().tcgetattr(fd, &tio) < 0) {
            const int error = errno;
            const bool notASerialPort = error == ENOTTY || error == EINVAL;
            deviceCalls().close(fd);
            if (known_.used() && notASerialPort)
                notUsed(-1, "came back as something that is not a serial port");
            else
                failCall("ioctl(TIOCMGET)", error, notASerialPort ? "not a serial port" : failureReason(error));
            return false;
        }
        // Exclusive, so that no other program opens it meanwhile; and the
        // lines keep their level when the port is closed.
        tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
        if (ioctlRetrying(fd, TIOCEXCL, nullptr) < 0 || deviceCalls().tcsetattr(fd, TCSANOW, &tio) < 0) {
            const int error = errno;
            deviceCalls().close(fd);
            failCall("ioctl(TIOCEXCL)/tcsetattr", error, failureReason(error));
            return false;
        }
        fd_ = fd;
        if (!known_.used() && identity_.empty()) identity_ = serialIdentityOf(tree_, *node);
        known_.holding();
        current_ = modem & (TIOCM_DTR | TIOCM_RTS);
        others_ = modem & ~(TIOCM_DTR | TIOCM_RTS);
        SignalRest signalRest;
        signalRest.write = [](const SignalRest &r) noexcept { return ::ioctl(r.fd, TIOCMSET, &r.modemBits) == 0; };
        signalRest.fd = fd_;
        signalRest.modemBits = others_ | linesFor(0);
        setSignalRest(signalRest);
        if (lost_) {
            lost_ = false;
            otherToldOf_ = false;
            recovered();
            // The node is named only when the adapter came back under another one.
            if (*node == device_)
                std::fprintf(stderr, "noctil: camera port %s is back; the lines go to rest first\n", device_.c_str());
            else
                std::fprintf(stderr, "noctil: camera port %s is back at %s; the lines go to rest first\n",
                             device_.c_str(), node->c_str());
            current_ = -1;  // whatever the adapter holds now, the rest level is written
            if (!setLines(linesFor(0))) return false;
        }
        return true;
    }

    std::filesystem::path device_;
    SerialLines lines_;
    DeviceTree tree_;
    std::string identity_;  // the adapter's name under /dev/serial/by-id at the first open, if it had one
    int fd_ = -1;
    int current_ = 0;
    int others_ = 0;
    KnownDevice known_;
    bool lost_ = false;         // it failed and is not open
    bool otherToldOf_ = false;  // another device at its name was reported
};

}  // namespace

std::unique_ptr<PortBackend> makeSerialPortBackend(std::filesystem::path device, SerialLines lines,
                                                   PortFailureSink report, DeviceTree tree) {
    return std::make_unique<SerialBackend>(std::move(device), lines, std::move(report), std::move(tree));
}

}  // namespace plat
