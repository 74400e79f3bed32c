#include "core/hooks.h"

#include <array>
#include <atomic>
#include <csignal>
#include <stdexcept>

namespace plat {

namespace {

// A signal handler may run at any moment, so the rest hooks are a fixed
// array that only grows, each slot filled before the count counts it.
constexpr std::size_t kMaxSignalRestHooks = 8;
std::array<SignalRestHook, kMaxSignalRestHooks> restHooks{};
volatile std::sig_atomic_t restHookCount = 0;

DefaultDisplayHook defaultDisplay = nullptr;

}  // namespace

void addSignalRestHook(SignalRestHook hook) {
    for (int i = 0; i < restHookCount; ++i)
        if (restHooks[std::size_t(i)] == hook) return;
    if (std::size_t(restHookCount) == kMaxSignalRestHooks) throw std::logic_error("too many signal rest hooks");
    restHooks[std::size_t(restHookCount)] = hook;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    restHookCount = restHookCount + 1;
}

bool runSignalRestHooks() noexcept {
    bool rested = false;
    for (int i = 0; i < restHookCount; ++i)
        if (restHooks[std::size_t(i)]()) rested = true;
    return rested;
}

void setDefaultDisplayHook(DefaultDisplayHook hook) { defaultDisplay = hook; }

std::shared_ptr<Display> makeDefaultDisplay() {
    if (!defaultDisplay) throw std::logic_error("a session needs a display and none was given");
    return defaultDisplay();
}

}  // namespace plat
