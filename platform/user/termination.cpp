// The message loop's answer to a request to end (a signal, a lost display):
// the main window is closed as its close box would close it.
#include <windows.h>

#include "core/signals.h"
#include "user/window_system.h"

namespace plat {

namespace {
int answered = 0;
}

void answerTerminationRequest() {
    const int signal = terminationSignal();
    if (signal == 0) {
        answered = 0;
        return;
    }
    if (answered) return;
    answered = signal;
    // The main window is the first top-level window the program made.
    for (HWND window : user::topLevelWindows()) {
        const user::Window *w = user::find(window);
        if (w && !w->owner && !w->destroying) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            return;
        }
    }
    PostQuitMessage(0);
}

}  // namespace plat
