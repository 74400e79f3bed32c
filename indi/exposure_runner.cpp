#include "exposure_runner.h"

#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <system_error>

namespace noctil::indi {

namespace {

// The last stretch of a wait is slept on the clock itself, as the program
// sleeps for its timers: an abort waits at most this long.
constexpr plat::Micros kFinalSleep = 1000;

}  // namespace

void AbortSignal::raise() {
    {
        std::lock_guard lock(mutex_);
        raised_ = true;
    }
    changed_.notify_all();
}

void AbortSignal::clear() {
    std::lock_guard lock(mutex_);
    raised_ = false;
}

bool AbortSignal::raised() const {
    std::lock_guard lock(mutex_);
    return raised_;
}

bool AbortSignal::waitUntil(plat::Clock &clock, plat::Micros when) {
    if (clock.isVirtual()) {
        if (raised()) return true;
        clock.sleepUntil(when);
        return raised();
    }
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (raised_) return true;
            const plat::Micros left = when - clock.now() - kFinalSleep;
            if (left <= 0) break;
            changed_.wait_for(lock, std::chrono::microseconds(left));
        }
    }
    clock.sleepUntil(when);
    return raised();
}

ExposureRunner::ExposureRunner(Camera &camera) : camera_(camera) {
    eventFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (eventFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

ExposureRunner::~ExposureRunner() {
    stop();
    close(eventFd_);
}

bool ExposureRunner::start(const ExposureRequest &request) {
    {
        std::lock_guard lock(mutex_);
        if (running_) return false;
        running_ = true;
    }
    if (thread_.joinable()) thread_.join();
    abort_.clear();
    thread_ = std::thread([this, request] { run(request); });
    return true;
}

void ExposureRunner::abort() { abort_.raise(); }

void ExposureRunner::stop() {
    abort_.raise();
    if (thread_.joinable()) thread_.join();
}

bool ExposureRunner::running() const {
    std::lock_guard lock(mutex_);
    return running_;
}

std::vector<RunnerEvent> ExposureRunner::takeEvents() {
    std::uint64_t count = 0;
    // Nothing to read is no error here: the events themselves are counted below.
    const ssize_t ignored = read(eventFd_, &count, sizeof count);
    (void)ignored;
    std::lock_guard lock(mutex_);
    std::vector<RunnerEvent> taken(std::make_move_iterator(events_.begin()), std::make_move_iterator(events_.end()));
    events_.clear();
    return taken;
}

void ExposureRunner::run(ExposureRequest request) {
    // Timed sleeps of this thread end the exposure: the finest wake the
    // kernel offers, as the program's own thread asks for.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    ExposureOutcome outcome = camera_.expose(request, abort_, [this](Phase phase) {
        post({phase == Phase::Integrating ? RunnerEvent::Kind::Integrating : RunnerEvent::Kind::ReadingOut, {}});
    });
    {
        std::lock_guard lock(mutex_);
        running_ = false;
    }
    post({RunnerEvent::Kind::Finished, std::move(outcome)});
}

void ExposureRunner::post(RunnerEvent event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    const std::uint64_t one = 1;
    // The counter cannot overflow at a few events an exposure.
    const ssize_t ignored = write(eventFd_, &one, sizeof one);
    (void)ignored;
}

}  // namespace noctil::indi
