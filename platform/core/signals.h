// How the process answers signals, so that the camera is never left
// integrating:
// - SIGTERM, SIGINT and SIGHUP ask the program to end as File > Exit does:
//   the handler only records the request and wakes the message loop, which
//   closes the main window (the port rests, the output file is finished, the
//   settings are saved). A second such signal before that has happened rests
//   the port and ends the process at once.
//   So do the other signals whose default is to end the process and that
//   only a person or another program sends: SIGUSR1, SIGUSR2, SIGALRM,
//   SIGVTALRM, SIGPROF, SIGIO, SIGPWR, SIGSTKFLT, SIGXCPU and the real-time
//   signals.
// - SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGQUIT, SIGTRAP and SIGSYS,
//   which only a fault (or a person asking for a core dump) raises, rest the
//   port from the handler with async-signal-safe calls only, then die as
//   they would have (the default action, core dump and all).
// - SIGPIPE and SIGXFSZ are ignored: the write they come with fails
//   instead (EPIPE, EFBIG), and the program reports that as a failed write.
// - SIGTSTP, SIGTTIN and SIGTTOU (Ctrl+Z, a terminal read or write from the
//   background) rest the port, then stop the process as they would have.
//   After SIGCONT the port's log takes in the rest with the time it was
//   written, and the level the program had set is written again; then the
//   program's windows hear that the process resumes (WM_POWERBROADCAST,
//   PBT_APMRESUMEAUTOMATIC, as on Windows after a suspension), so that the
//   program can start again what the stop interrupted.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>

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

// A stop signal's handler rested the camera port at this time of the
// monotonic clock (in nanoseconds) before the process stopped.
// Async-signal-safe.
void notePortRestedByStop(std::int64_t monotonicNs) noexcept;
// That time, once: the port's log takes it in (and nullopt after that, or
// while no stop rested the port).
std::optional<std::int64_t> takePortRestByStop();

// A stop signal's handler goes on after SIGCONT: the process stood still
// and now runs again. Async-signal-safe.
void noteContinuedAfterStop() noexcept;
// Whether the process went on after a stop since the last call (once).
bool takeContinuedAfterStop();

// A session component: who takes that rest in (the session's camera port,
// which keeps the log of the lines). The window system sits above the port
// and may not call it, so the port leaves its answer here.
struct PortRestByStopAnswer {
    const void *owner = nullptr;
    std::function<void()> answer;
};
// Called by the message loop at every turn, so that after SIGCONT the lines
// get the program's level back even while no write is due.
void answerPortRestByStop();

}  // namespace plat
