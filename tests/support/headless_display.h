// The display without pixels: the tests' stand-in for a screen and a person
// (the program itself never runs headless). Tests give it a script of user
// actions at virtual times; when the message loop has nothing to do it runs
// the next action that is due before the loop's deadline (moving the clock to
// it), or moves the clock to the deadline. A loop that would wait with no deadline
// and no action left can never wake up: that is reported as a Hang, and so is
// running past the test's virtual-time limit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "display/display.h"

namespace plat {

// A new headless display; a session whose options name no display gets one.
std::unique_ptr<Display> makeHeadlessDisplay();

// Thrown out of the message loop when a headless run can never go on, or has
// run past its virtual-time limit. The test fixture reports it as a failure.
class Hang : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HeadlessDisplay final : public Display {
public:
    struct Beep {
        Micros time;
        unsigned type;
    };

    HeadlessDisplay();

    void wait(std::optional<Micros> deadline) override;
    // Runs the earliest action that is due by now, if any.
    void poll() override;
    void beep(unsigned type) override;

    // Runs `action` when the loop first waits at or after `when` (clock time).
    // Actions due at the same time run in the order they were scheduled.
    void schedule(Micros when, std::function<void()> action);
    std::size_t pendingActions() const { return actions_.size(); }

    // The loop may not wait past this clock time; doing so is a Hang.
    void setTimeLimit(std::optional<Micros> limit) { limit_ = limit; }

    const std::vector<Beep> &beeps() const { return beeps_; }

private:
    struct Action {
        Micros when;
        std::uint64_t order;
        std::function<void()> run;
    };
    void checkLimit(Micros when) const;

    std::vector<Action> actions_;  // kept sorted by (when, order)
    std::uint64_t nextOrder_ = 0;
    std::optional<Micros> limit_;
    std::vector<Beep> beeps_;
};

}  // namespace plat
