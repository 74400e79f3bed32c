#include "headless_display.h"

#include <algorithm>
#include <string>

#include "core/session.h"

namespace plat {

namespace {
std::string millis(Micros t) { return std::to_string(t / 1000) + " ms"; }
}  // namespace

// The program beeps once an image, inside the stream's frame callback: the
// record has room for a long night's beeps from the start, so that a beep
// allocates nothing.
HeadlessDisplay::HeadlessDisplay() { beeps_.reserve(4096); }

std::unique_ptr<Display> makeHeadlessDisplay() { return std::make_unique<HeadlessDisplay>(); }

void HeadlessDisplay::schedule(Micros when, std::function<void()> action) {
    Action a{when, nextOrder_++, std::move(action)};
    auto at = std::upper_bound(actions_.begin(), actions_.end(), a, [](const Action &x, const Action &y) {
        return x.when < y.when || (x.when == y.when && x.order < y.order);
    });
    actions_.insert(at, std::move(a));
}

void HeadlessDisplay::checkLimit(Micros when) const {
    if (limit_ && when > *limit_)
        throw Hang("the run went past its virtual-time limit of " + millis(*limit_) + " (next thing due at " +
                   millis(when) + ")");
}

void HeadlessDisplay::wait(std::optional<Micros> deadline) {
    Clock &clock = session().clock();
    if (!actions_.empty() && (!deadline || actions_.front().when <= *deadline)) {
        Action next = std::move(actions_.front());
        actions_.erase(actions_.begin());
        checkLimit(next.when);
        clock.sleepUntil(next.when);
        next.run();
        return;
    }
    if (deadline) {
        checkLimit(*deadline);
        clock.sleepUntil(*deadline);
        return;
    }
    throw Hang("the message loop waits for input at " + millis(clock.now()) +
               " with no timer running and no scripted user action left");
}

void HeadlessDisplay::poll() {
    if (actions_.empty() || actions_.front().when > session().clock().now()) return;
    Action next = std::move(actions_.front());
    actions_.erase(actions_.begin());
    next.run();
}

void HeadlessDisplay::beep(unsigned type) { beeps_.push_back({session().clock().now(), type}); }

}  // namespace plat
