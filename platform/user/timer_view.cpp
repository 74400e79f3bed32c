// What the displays may read about armed timers.
#include "user/user_state.h"

namespace plat::user {

std::optional<Micros> nextTimerDueOf(HWND window) {
    std::optional<Micros> due;
    for (const Timer &t : state().timers)
        if (t.window == window && (!due || t.due < *due)) due = t.due;
    return due;
}

}  // namespace plat::user
