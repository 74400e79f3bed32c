// The display without windows: for a process that runs the platform with
// no person in front of it (tools, benchmarks). It shows nothing, takes no
// input and waits on the session's clock until the loop's next timer.
#pragma once

#include <optional>
#include <stdexcept>

#include "display/display.h"

namespace plat {

class NullDisplay final : public Display {
public:
    // Sleeps on the session's clock until `deadline`. With no deadline
    // nothing can ever come, so it throws NothingToWaitFor instead of
    // blocking for ever.
    void wait(std::optional<Micros> deadline) override;
    // No person, no input.
    void poll() override {}
};

// What NullDisplay::wait throws when the loop would wait with no timer.
class NothingToWaitFor : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace plat
