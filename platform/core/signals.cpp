#include "core/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/hooks.h"

namespace plat {

namespace {

constexpr int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGQUIT};

volatile std::sig_atomic_t requested = 0;
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

void onEndSignal(int signal) {
    const int savedErrno = errno;
    if (requested) {
        say("noctil: asked again to end: ");
        say(runSignalRestHooks() ? "camera port put to rest, ending now\n" : "ending now\n");
        dieBy(signal);
    }
    requested = signal;
    if (wakePipe[1] >= 0) {
        const char byte = 1;
        const ssize_t ignored = ::write(wakePipe[1], &byte, 1);
        (void)ignored;  // a full pipe is already a wake-up
    }
    errno = savedErrno;
}

void onCrashSignal(int signal) {
    say(signal == SIGQUIT ? "noctil: quit: " : "noctil: crashed: ");
    say(runSignalRestHooks() ? "camera port put to rest\n" : "no camera port was open\n");
    dieBy(signal);
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
    for (int s : kCrashSignals) install(s, onCrashSignal);
}

SignalHandlers::~SignalHandlers() {
    for (int s : kEndSignals) ::sigaction(s, &previous_[s], nullptr);
    for (int s : kCrashSignals) ::sigaction(s, &previous_[s], nullptr);
    requested = 0;
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
    while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {
    }
}

void requestTermination(int signal) { onEndSignal(signal); }

}  // namespace plat
