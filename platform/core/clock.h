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
};

class RealClock final : public Clock {
public:
    RealClock();
    Micros now() const override;
    void sleepUntil(Micros when) override;
    bool isVirtual() const override { return false; }
    Micros fromMonotonicNs(std::int64_t ns) const override { return (ns - originNs_) / 1000; }

private:
    std::int64_t originNs_;
};

class VirtualClock final : public Clock {
public:
    Micros now() const override { return now_; }
    void sleepUntil(Micros when) override {
        if (when > now_) now_ = when;
    }
    bool isVirtual() const override { return true; }
    Micros fromMonotonicNs(std::int64_t) const override { return now_; }

private:
    Micros now_ = 0;
};

// Milliseconds since the session started, as GetTickCount-style values.
inline std::uint32_t toMillis(Micros t) { return static_cast<std::uint32_t>(t / 1000); }

}  // namespace plat
