#include "core/signals.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "core/hooks.h"
#include "core/session.h"

namespace plat {

namespace {

constexpr int kEndSignals[] = {SIGTERM,   SIGINT,  SIGHUP, SIGUSR1, SIGUSR2,   SIGALRM,
                               SIGVTALRM, SIGPROF, SIGIO,  SIGPWR,  SIGSTKFLT, SIGXCPU};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGQUIT, SIGTRAP, SIGSYS};
constexpr int kIgnoredSignals[] = {SIGPIPE, SIGXFSZ};
constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// Every signal this file answers, the real-time ones included (their
// numbers are known only at run time).
template <class F>
void forEachAnswered(F &&f) {
    for (int s : kEndSignals) f(s);
    for (int s : kCrashSignals) f(s);
    for (int s : kIgnoredSignals) f(s);
    for (int s : kStopSignals) f(s);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) f(s);
}

volatile std::sig_atomic_t requested = 0;
// Set by a stop signal's handler after it rested the port; the time is
// written before the flag is raised.
volatile std::sig_atomic_t restedByStop = 0;
std::int64_t restedByStopNs = 0;
// Set by a stop signal's handler once the process goes on after SIGCONT.
volatile std::sig_atomic_t continuedAfterStop = 0;
int wakePipe[2] = {-1, -1};

// write(2) of a constant text: the one way to say something from a handler.
void say(const char *text) {
    const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;  // nothing more can be done about a failed diagnostic
}

[[noreturn]] void dieBy(int signal) {
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);  // a signal whose default is to be ignored ends here
}

void wakeTheLoop() {
    if (wakePipe[1] < 0) return;
    const char byte = 1;
    const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
    (void)ignored;  // a full pipe is already a wake-up
}

void onEndSignal(int signal) {
    const int savedErrno = errno;
    if (requested) {
        say("noctil: asked again to end: ");
        say(runSignalRestHooks() ? "camera port put to rest, ending now\n" : "ending now\n");
        dieBy(signal);
    }
    requested = signal;
    wakeTheLoop();
    errno = savedErrno;
}

void onCrashSignal(int signal) {
    say(signal == SIGQUIT ? "noctil: quit: " : "noctil: crashed: ");
    say(runSignalRestHooks() ? "camera port put to rest\n" : "no camera port was open\n");
    dieBy(signal);
}

// The camera must not integrate for as long as the process is stopped: the
// port rests first, then the process stops as the default action would
// stop it. It goes on here after SIGCONT.
void onStopSignal(int signal) {
    const int savedErrno = errno;
    if (runSignalRestHooks()) {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        notePortRestedByStop(std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec);
        say("noctil: stopped: camera port put to rest\n");
    } else {
        say("noctil: stopped: no camera port was open\n");
    }
    struct sigaction fallback {
    }, mine{};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, &mine);
    sigset_t unblock, before;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::sigprocmask(SIG_UNBLOCK, &unblock, &before);
    ::raise(signal);  // stopped here until SIGCONT
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    ::sigaction(signal, &mine, nullptr);
    noteContinuedAfterStop();
    wakeTheLoop();  // the port's log takes in the rest at the loop's next turn
    errno = savedErrno;
}

void ensureWakePipe() {
    if (wakePipe[0] >= 0) return;
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) wakePipe[0] = wakePipe[1] = -1;  // then only the flag wakes
}

}  // namespace

SignalHandlers::SignalHandlers() {
    ensureWakePipe();
    requested = 0;
    auto install = [this](int signal, void (*handler)(int)) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls resume; the loop notices the request at its next turn.
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, &previous_[signal]);
    };
    for (int s : kEndSignals) install(s, onEndSignal);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) install(s, onEndSignal);
    for (int s : kCrashSignals) install(s, onCrashSignal);
    for (int s : kIgnoredSignals) install(s, SIG_IGN);
    for (int s : kStopSignals) install(s, onStopSignal);
}

SignalHandlers::~SignalHandlers() {
    forEachAnswered([this](int s) { ::sigaction(s, &previous_[s], nullptr); });
    requested = 0;
    restedByStop = 0;
    continuedAfterStop = 0;
    drainTerminationWake();
}

int terminationSignal() { return requested; }

int terminationWakeFd() {
    ensureWakePipe();
    return wakePipe[0];
}

void drainTerminationWake() {
    if (wakePipe[0] < 0) return;
    char buffer[64];
    while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {}
}

void requestTermination(int signal) { onEndSignal(signal); }

void notePortRestedByStop(std::int64_t monotonicNs) noexcept {
    restedByStopNs = monotonicNs;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    restedByStop = 1;
}

std::optional<std::int64_t> takePortRestByStop() {
    if (!restedByStop) return std::nullopt;
    restedByStop = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    return restedByStopNs;
}

void noteContinuedAfterStop() noexcept { continuedAfterStop = 1; }

bool takeContinuedAfterStop() {
    if (!continuedAfterStop) return false;
    continuedAfterStop = 0;
    return true;
}

void answerPortRestByStop() {
    if (!restedByStop) return;
    const PortRestByStopAnswer *taker = session().findComponent<PortRestByStopAnswer>();
    if (taker && taker->answer) taker->answer();
}

}  // namespace plat
