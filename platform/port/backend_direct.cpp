#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define NOCTIL_HAS_PORT_IO 1
#else
#define NOCTIL_HAS_PORT_IO 0
#endif

#include "port/port_backend.h"

namespace plat {

namespace {

// Output instructions straight to the port's registers, for machines whose
// kernel has no ppdev. Needs the privilege to raise the I/O permission.
class DirectBackend final : public PortBackend {
public:
    DirectBackend(std::uint16_t dataRegister, PortFailureSink report)
        : base_(dataRegister), failure_(std::move(report)) {}

    std::string_view name() const override { return "direct"; }

    void write(std::uint16_t address, std::uint8_t value) override {
        if (failure_.failed()) return;
        if (address < base_ || address > base_ + 2) {
            fail("write to I/O address " + std::to_string(address) + ", which is no register of this port");
            return;
        }
#if NOCTIL_HAS_PORT_IO
        if (!permitted_) {
            if (::ioperm(base_, 3, 1) != 0) {
                fail("ioperm(" + std::to_string(base_) + ", 3, 1) failed: " + std::strerror(errno));
                return;
            }
            permitted_ = true;
        }
        ::outb(value, address);
#else
        (void)value;
        fail("this processor has no I/O port instructions");
#endif
    }

private:
    void fail(const std::string &what) {
        failure_.report("parallel port (direct I/O): " + what + "; port writes are only logged from now on");
    }

    std::uint16_t base_;
    FailureOnce failure_;
    bool permitted_ = false;
};

}  // namespace

std::unique_ptr<PortBackend> makeDirectPortBackend(std::uint16_t dataRegister, PortFailureSink report) {
    return std::make_unique<DirectBackend>(dataRegister, std::move(report));
}

}  // namespace plat
