// How the process answers signals, so that the camera is never left
// integrating:
// - SIGTERM, SIGINT and SIGHUP ask the program to end as File > Exit does:
//   the handler only records the request and wakes the message loop, which
//   closes the main window (the port rests, the output file is finished, the
//   settings are saved). A second such signal before that has happened rests
//   the port and ends the process at once.
// - SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL and SIGQUIT rest the port from
//   the handler with async-signal-safe calls only, then die as they would
//   have (the default action, core dump and all).
#pragma once

#include <csignal>

namespace plat {

class SignalHandlers {
public:
    // Installs the handlers; the destructor puts the earlier ones back.
    SignalHandlers();
    ~SignalHandlers();
    SignalHandlers(const SignalHandlers &) = delete;
    SignalHandlers &operator=(const SignalHandlers &) = delete;

private:
    struct sigaction previous_[NSIG];
};

// The signal that asked the program to end, 0 while none did.
int terminationSignal();
// Becomes readable when a signal asks the program to end, so that a display
// waiting for events wakes; drainTerminationWake() empties it.
int terminationWakeFd();
void drainTerminationWake();
// Asks the program to end as those signals do (a display that lost its
// window system calls it too).
void requestTermination(int signal);

// Called by the message loop before it hands out a message: once per
// request, sends the main window WM_CLOSE, as its close box would.
void answerTerminationRequest();

}  // namespace plat
