#include "display/null_display.h"

#include "core/session.h"

namespace plat {

void NullDisplay::wait(std::optional<Micros> deadline) {
    if (!deadline)
        throw NothingToWaitFor("the message loop waits for input, and a display without windows has none to give");
    session().clock().sleepUntil(*deadline);
}

}  // namespace plat
