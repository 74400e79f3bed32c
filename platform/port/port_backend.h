// Where the bytes written to the parallel port go. Every write is logged and
// shown to listeners by ParallelPort whatever the backend; a backend only
// carries the byte on to hardware (or, simulated, nowhere).
//
// The program addresses the port at its classic place (data register 0x378,
// control register 0x37A); each backend maps those registers onto its own
// device. A backend that cannot reach its hardware reports it, naming the
// device and the reason, and carries nothing while it cannot: a port write on
// the real machine cannot fail, so the program is never told, but the person
// is (ParallelPort shows the report in a message box). A device that was lost
// (a USB adapter pulled out) is opened again at a later write once it is
// back, and the rest level goes out first; one that comes back as another
// kind of device is reported and not used.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "port/device_identity.h"

namespace plat {

struct PortFailure {
    std::string device;        // "/dev/parport0", "I/O address 0x378", "system.ini"
    std::string reason;        // for a person: "permission denied", "busy (claimed by another program)"
    std::string detail;        // for standard error: the call that failed and the system's words
    bool otherDevice = false;  // the device came back as another kind of device, which is not used
};

using PortFailureSink = std::function<void(const PortFailure &)>;

// The few words a person needs for a failed system call's errno.
std::string failureReason(int error);

// Reports the first failure of a backend and drops the later ones.
class FailureOnce {
public:
    explicit FailureOnce(PortFailureSink sink = {}) : sink_(std::move(sink)) {}
    bool failed() const { return failed_; }
    void setSink(PortFailureSink sink) { sink_ = std::move(sink); }
    void report(PortFailure failure) {
        if (failed_) return;
        failed_ = true;
        if (sink_) sink_(failure);
    }
    // The device works again: its next failure is reported too.
    void recovered() { failed_ = false; }
    // Reported whether or not a failure was reported before.
    void reportAlso(const PortFailure &failure) {
        if (sink_) sink_(failure);
    }

private:
    PortFailureSink sink_;
    bool failed_ = false;
};

class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual std::string_view name() const = 0;
    // Called on every port write (address 0x378 to 0x37A); must not allocate
    // once the backend is set up.
    virtual void write(std::uint16_t address, std::uint8_t value) = 0;
    // Where failures go from now on (ParallelPort sets it when it takes the
    // backend over).
    void setFailureSink(PortFailureSink sink) { failure_.setSink(std::move(sink)); }
    bool failed() const { return failure_.failed(); }

protected:
    explicit PortBackend(PortFailureSink sink = {}) : failure_(std::move(sink)) {}
    void fail(PortFailure failure) { failure_.report(std::move(failure)); }
    void recovered() { failure_.recovered(); }
    void failAlso(const PortFailure &failure) { failure_.reportAlso(failure); }

private:
    FailureOnce failure_;
};

// The program's data register; the control register is two above it.
inline constexpr std::uint16_t kProgramDataRegister = 0x378;

// Writes go nowhere: the log and the listeners (the simulated camera) are all.
std::unique_ptr<PortBackend> makeSimulatedPortBackend();

// Linux ppdev: the device (such as /dev/parport0) is opened, claimed
// exclusively on the first write; the data register goes out with PPWDATA,
// the control register with PPWCONTROL.
std::unique_ptr<PortBackend> makePpdevPortBackend(std::filesystem::path device, PortFailureSink report);

// Direct I/O instructions at `baseAddress` (the card's data register: 0x378,
// 0x278, 0x3BC or a PCI card's address): ioperm on its three registers at the
// first write, then outb. The address's lock file (port/port_holder.h) is in
// `lockDirectory`.
std::unique_ptr<PortBackend> makeDirectPortBackend(std::uint16_t baseAddress, PortFailureSink report,
                                                   const std::filesystem::path &lockDirectory = "/run/lock");

// A serial port's DTR and RTS lines follow one data bit each.
struct SerialLines {
    int dtrBit = 1;  // set while integrating (0x0B, 0x0F)
    int rtsBit = 2;  // set while the amplifier is off (0x0F)
    bool dtrInverted = false;
    bool rtsInverted = false;
};
// An adapter with a name under /dev/serial/by-id (udev's, from its maker,
// model and USB serial number) is found again by that name when it comes
// back under another node; `tree` says where /dev is.
std::unique_ptr<PortBackend> makeSerialPortBackend(std::filesystem::path device, SerialLines lines,
                                                   PortFailureSink report, DeviceTree tree = {});

// The [parallel] section of the platform's configuration as its reader
// found it (profile/ini_file.h reads it from <root>/windows/system.ini).
struct PortSettings {
    std::string source;  // where the settings come from, for messages: the file's name
    std::vector<std::pair<std::string, std::string>> values;
    // The value of `key`, whose name compares without regard to ASCII case.
    std::optional<std::string> value(std::string_view key) const;
};

// The backend that the port settings name:
//   backend = simulated | ppdev | direct | serial
//   device = /dev/parport0 (ppdev) or /dev/ttyS0 (serial)
//   address = 0x378 (direct; hexadecimal with 0x, or decimal)
//   dtr = 1, rts = 2, dtr_inverted = 0, rts_inverted = 0 (serial)
// No settings give the simulated port; settings it cannot use (unknown
// backend, malformed address or bit) are reported and give the simulated
// port, which drives no hardware at all.
std::unique_ptr<PortBackend> makeConfiguredPortBackend(const PortSettings &settings, PortFailureSink report);

}  // namespace plat
