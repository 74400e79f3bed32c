// Where the bytes written to the parallel port go. Every write is logged and
// shown to listeners by ParallelPort whatever the backend; a backend only
// carries the byte on to hardware (or, simulated, nowhere).
//
// A backend that cannot reach its hardware says so once, naming the call that
// failed, and from then on carries nothing; the program is never told, just as
// a port write on the real machine cannot fail.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace plat {

// Receives a backend's failure report (one line, no line end).
using PortFailureSink = std::function<void(const std::string &)>;

// The default sink: the line on stderr.
PortFailureSink stderrFailureSink();

class PortBackend {
public:
    virtual ~PortBackend() = default;
    virtual std::string_view name() const = 0;
    // Called on every port write; must not allocate once the backend is set up.
    virtual void write(std::uint16_t address, std::uint8_t value) = 0;
};

// Writes go nowhere: the log and the listeners (the simulated camera) are all.
std::unique_ptr<PortBackend> makeSimulatedPortBackend();

// Linux ppdev: the device (such as /dev/parport0) is opened and claimed on the
// first write; the data register goes out with PPWDATA, the control register
// (data register + 2) with PPWCONTROL.
std::unique_ptr<PortBackend> makePpdevPortBackend(std::filesystem::path device, std::uint16_t dataRegister,
                                                  PortFailureSink report);

// Direct I/O instructions, for machines without ppdev: ioperm on the port's
// three registers at the first write, then outb.
std::unique_ptr<PortBackend> makeDirectPortBackend(std::uint16_t dataRegister, PortFailureSink report);

// The backend that the platform configuration names: [parallel] backend=
// simulated|ppdev|direct and device=... in `systemIni`. A missing file or key
// gives the simulated port; an unknown backend name is reported and also gives
// the simulated port.
std::unique_ptr<PortBackend> makeConfiguredPortBackend(const std::filesystem::path &systemIni,
                                                       std::uint16_t dataRegister, PortFailureSink report);

// Reports the first failure of a backend and drops the later ones.
class FailureOnce {
public:
    explicit FailureOnce(PortFailureSink sink) : sink_(std::move(sink)) {}
    bool failed() const { return failed_; }
    void report(const std::string &line) {
        if (failed_) return;
        failed_ = true;
        if (sink_) sink_(line);
    }

private:
    PortFailureSink sink_;
    bool failed_ = false;
};

}  // namespace plat
