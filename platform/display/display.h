// How the window model reaches a person. A display only shows the model
// and turns what a person does into the messages the window system expects;
// the program never knows which display runs.
#pragma once

#include <memory>
#include <optional>

#include "core/clock.h"

namespace plat {

class Display {
public:
    virtual ~Display() = default;

    // Called by the message loop when it has nothing to deliver. Waits until
    // a person has acted (delivering that as messages) or until `deadline`
    // on the platform clock, whichever comes first. Without a deadline it
    // waits for a person alone; a display that knows nothing can ever come
    // (a headless test whose script has run out) reports the hang instead of
    // blocking forever.
    virtual void wait(std::optional<Micros> deadline) = 0;

    // Called by the message loop before it makes a timer message that fell
    // due while the loop was busy: delivers what a person has done by now
    // (as messages), without waiting. Input comes before timers, so timers
    // that are due on every turn (a zero duration) cannot shut a person out.
    // A display that says nothing here waits until now on the session's
    // clock, which delivers the same: one written before this call existed
    // still lets a person in.
    virtual void poll();

    // MessageBeep.
    virtual void beep(unsigned type) { (void)type; }
};

}  // namespace plat
