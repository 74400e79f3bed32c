#include "port/signal_rest.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <atomic>
#include <csignal>

#include "core/hooks.h"
#include "port/port_io.h"

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
    switch (r.kind) {
    case SignalRest::PpdevData: {
        unsigned char zero = 0;
        return ::ioctl(r.fd, PPWDATA, &zero) == 0;
    }
    case SignalRest::SerialLines: return ::ioctl(r.fd, TIOCMSET, &r.modemBits) == 0;
    case SignalRest::OutputByte:
#if NOCTIL_HAS_PORT_IO
        ::outb(0, r.address);
        return true;
#else
        return false;
#endif
    case SignalRest::None: break;
    }
    return false;
}

}  // namespace plat
