#include "port/parallel_port.h"

#include <algorithm>
#include <utility>

#include "core/session.h"
#include "files/paths.h"

namespace plat {

ParallelPort::ParallelPort()
    : ParallelPort(makeConfiguredPortBackend(entryIgnoringCase(windowsDirectory(), "system.ini"), kDataRegister,
                                             stderrFailureSink())) {}

ParallelPort::ParallelPort(std::unique_ptr<PortBackend> backend, std::size_t logCapacity)
    : clock_(session().clock()),
      backend_(backend ? std::move(backend) : makeSimulatedPortBackend()),
      capacity_(std::max<std::size_t>(logCapacity, 1)) {
    log_.reserve(2 * capacity_);
}

void ParallelPort::write(std::uint16_t address, std::uint8_t value) {
    const PortWrite entry{clock_.now(), address, value};
    if (log_.size() == 2 * capacity_) {
        // Drop the oldest half; the copy stays within the reserved storage.
        std::copy(log_.end() - static_cast<std::ptrdiff_t>(capacity_), log_.end(), log_.begin());
        log_.resize(capacity_);
    }
    log_.push_back(entry);
    ++total_;
    if (address == kDataRegister) data_ = value;

    // Listeners added during this round start with the next write; removed
    // ones are only marked here and erased once no round is running.
    struct Round {
        ParallelPort &port;
        explicit Round(ParallelPort &p) : port(p) { ++port.notifying_; }
        ~Round() {
            if (--port.notifying_ == 0) port.listeners_.remove_if([](const Listener &l) { return !l.active; });
        }
    } round(*this);
    std::size_t count = listeners_.size();
    for (auto it = listeners_.begin(); count > 0; ++it, --count)
        if (it->active) it->call(entry);

    backend_->write(address, value);
}

std::span<const PortWrite> ParallelPort::writes() const {
    const std::size_t n = std::min(log_.size(), capacity_);
    return {log_.data() + (log_.size() - n), n};
}

int ParallelPort::subscribe(std::function<void(const PortWrite &)> listener) {
    const int id = nextListenerId_++;
    listeners_.push_back(Listener{id, std::move(listener), true});
    return id;
}

void ParallelPort::unsubscribe(int id) {
    for (auto it = listeners_.begin(); it != listeners_.end(); ++it) {
        if (it->id != id) continue;
        if (notifying_ > 0)
            it->active = false;  // it may be running right now
        else
            listeners_.erase(it);
        return;
    }
}

}  // namespace plat
