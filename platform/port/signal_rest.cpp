#include "port/signal_rest.h"

#include <atomic>
#include <csignal>

#include "core/hooks.h"

namespace plat {

namespace {

// A handler may interrupt setSignalRest half-way; it acts only on a record
// that was complete when `ready` was raised.
SignalRest prepared;
volatile std::sig_atomic_t ready = 0;

}  // namespace

void setSignalRest(const SignalRest &rest) {
    // The signal handlers (core/signals.h) run the rest through core's hooks.
    addSignalRestHook(&restPortFromSignal);
    ready = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    prepared = rest;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    ready = 1;
}

void clearSignalRest() { ready = 0; }

bool restPortFromSignal() noexcept {
    if (!ready) return false;
    const SignalRest &r = prepared;
    return r.write && r.write(r);
}

}  // namespace plat
