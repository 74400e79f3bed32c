#include "port/port_exposure.h"

#include <camport.h>

namespace plat {

namespace {

bool integrating(std::uint8_t level) { return (level & PORT_INTEGRATE_BITS) == PORT_INTEGRATE_BITS; }

}  // namespace

std::optional<PortExposure> lastExposure(std::span<const PortWrite> writes) {
    // Only the data register carries the camera's lines.
    const auto isData = [&](std::size_t i) { return writes[i].address == ParallelPort::kDataRegister; };
    // The last write of another level that follows an integration level
    // ends the exposure; one still running is passed over.
    std::size_t end = writes.size();
    std::optional<std::size_t> start;
    for (std::size_t i = writes.size(); i-- > 0 && !start;) {
        if (!isData(i)) continue;
        if (!integrating(writes[i].value))
            end = i;
        else if (end != writes.size())
            start = i;
    }
    // Back to the first integration write of its run.
    for (std::size_t i = start.value_or(0); start && i-- > 0;) {
        if (!isData(i)) continue;
        if (!integrating(writes[i].value)) break;
        start = i;
    }
    if (end == writes.size() || !start) return std::nullopt;
    PortExposure e{writes[*start].time, writes[end].time, 0, writes[end].suspended - writes[*start].suspended};
    if (e.suspended < kSuspendNoise) e.suspended = 0;
    Micros since = e.start;
    bool ampOff = false;
    for (std::size_t i = *start; i <= end; ++i) {
        if (!isData(i)) continue;
        if (ampOff) e.ampOff += writes[i].time - since;
        since = writes[i].time;
        ampOff = (writes[i].value & PORT_AMPOFF_BIT) != 0;
    }
    e.start -= e.suspended;
    return e;
}

}  // namespace plat
