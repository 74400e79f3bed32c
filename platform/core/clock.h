// The one platform clock. The program runs on the real monotonic clock;
// tests run on a virtual clock that jumps to the next thing that is due.
#pragma once

#include <cstdint>

namespace plat {

using Micros = std::int64_t;

class Clock {
public:
    virtual ~Clock() = default;
    virtual Micros now() const = 0;
    // Blocks the calling thread until `when`: the real clock sleeps, the
    // virtual clock jumps forward (never backward).
    virtual void sleepUntil(Micros when) = 0;
    virtual bool isVirtual() const = 0;
    // A time of the system's monotonic clock (nanoseconds, as a signal
    // handler reads it) on this clock; the virtual clock takes it as now.
    virtual Micros fromMonotonicNs(std::int64_t ns) const = 0;
    // How long the system has been suspended since the clock started: the
    // monotonic clock stops while it is, the camera goes on integrating.
    // The real clock reads it as the boot-time clock (which counts the
    // suspension) less the monotonic one.
    virtual Micros suspended() const = 0;
};

class RealClock final : public Clock {
public:
    RealClock();
    Micros now() const override;
    void sleepUntil(Micros when) override;
    bool isVirtual() const override { return false; }
    Micros fromMonotonicNs(std::int64_t ns) const override { return (ns - originNs_) / 1000; }
    Micros suspended() const override;

private:
    std::int64_t originNs_;
    std::int64_t originGapNs_;  // boot time less monotonic time at the start
};

class VirtualClock final : public Clock {
public:
    Micros now() const override { return now_; }
    void sleepUntil(Micros when) override {
        if (when > now_) now_ = when;
    }
    bool isVirtual() const override { return true; }
    Micros fromMonotonicNs(std::int64_t) const override { return now_; }
    Micros suspended() const override { return suspended_; }
    // The system sleeps for `span` and wakes: now() stands still, as the
    // monotonic clock does, and suspended() grows by it.
    void suspendFor(Micros span) {
        if (span > 0) suspended_ += span;
    }

private:
    Micros now_ = 0;
    Micros suspended_ = 0;
};

// Milliseconds since the session started, as GetTickCount-style values.
inline std::uint32_t toMillis(Micros t) { return static_cast<std::uint32_t>(t / 1000); }

}  // namespace plat
