#include <memory>

#include "port/port_backend.h"

namespace plat {

namespace {

// The port of a machine without a parallel port, or of a test: the log and
// the listeners (the simulated camera) are the whole of it.
class SimulatedBackend final : public PortBackend {
public:
    std::string_view name() const override { return "simulated"; }
    void write(std::uint16_t, std::uint8_t) override {}
};

}  // namespace

std::unique_ptr<PortBackend> makeSimulatedPortBackend() { return std::make_unique<SimulatedBackend>(); }

}  // namespace plat
