#include "port/parallel_port.h"

#include <windows.h>
#include <camport.h>

#include <cerrno>
#include <cstdio>

#include <algorithm>
#include <memory>
#include <utility>

#include "port/port_events.h"

namespace plat {

ParallelPort::ParallelPort(Clock &clock, Notices &notices, std::unique_ptr<PortBackend> backend,
                           std::size_t logCapacity, std::vector<PortFailure> earlier)
    : clock_(clock),
      notices_(notices),
      backend_(backend ? std::move(backend) : makeSimulatedPortBackend()),
      capacity_(std::max<std::size_t>(logCapacity, 1)) {
    log_.reserve(2 * capacity_);
    backend_->setFailureSink([this](const PortFailure &f) { failed(f); });
    for (const PortFailure &f : earlier) failed(f);
}

ParallelPort::~ParallelPort() {
    if (stopAnswer_ && stopAnswer_->owner == this) *stopAnswer_ = PortRestByStopAnswer{};
}

void ParallelPort::answerStopRests(PortRestByStopAnswer &answer) {
    if (answer.owner) return;
    answer.owner = this;
    answer.answer = [this] { catchUpOnSignalRest(); };
    stopAnswer_ = &answer;
}

ParallelPort &makeSessionPort(Session &session, std::unique_ptr<PortBackend> backend,
                              std::vector<PortFailure> earlier) {
    // Made before the port, so they outlive it.
    Notices &notices = session.component<Notices>();
    PortRestByStopAnswer &answer = session.component<PortRestByStopAnswer>();
    ParallelPort &port = session.emplace<ParallelPort>(session.clock(), notices, std::move(backend),
                                                       ParallelPort::kLogCapacity, std::move(earlier));
    port.answerStopRests(answer);
    return port;
}

void ParallelPort::setBackend(std::unique_ptr<PortBackend> backend) {
    backend_ = backend ? std::move(backend) : makeSimulatedPortBackend();
    backend_->setFailureSink([this](const PortFailure &f) { failed(f); });
}

namespace {

// A device that is not there, as opposed to one that refuses the port.
bool meansGone(const std::string &reason) {
    for (int error : {ENOENT, ENODEV, ENXIO, EIO})
        if (reason == failureReason(error)) return true;
    return false;
}

bool integrating(std::uint8_t level) { return (level & PORT_INTEGRATE_BITS) == PORT_INTEGRATE_BITS; }

}  // namespace

void ParallelPort::failed(const PortFailure &failure) {
    std::fprintf(stderr, "noctil: camera port %s: %s (%s)\n", failure.device.c_str(), failure.reason.c_str(),
                 failure.detail.c_str());
    lossReason_ = std::string(meansGone(failure.reason) && !failure.otherDevice ? "the camera port is gone: "
                                                                                : "the camera port cannot be used: ") +
                  failure.device + ": " + failure.reason;
    if (failure.otherDevice) {
        if (otherDeviceTold_) return;
        otherDeviceTold_ = true;
        notices_.post(
            {"The camera port device came back as another device.\n\n" + failure.device + ": " + failure.reason +
                 ".\n\nIt is not used: the camera is not controlled until the port's own device is back.",
             "Error", MB_OK | MB_ICONSTOP});
        return;
    }
    ++failures_;
    // The same failure again, with no exposure carried since it was told (a
    // device that comes and goes, the same error at every try), is counted
    // only: box after box would tell the person nothing new.
    const bool sameAsTold = failure.device == told_.device && failure.reason == told_.reason;
    if (!failureMessage_.empty() && sameAsTold && !carriedSinceTold_) return;
    told_ = failure;
    carriedSinceTold_ = false;
    failureShown_ = false;
    failureMessage_ =
        std::string(failures_ == 1 ? "The camera port cannot be used." : "The camera port failed again.") + "\n\n" +
        failure.device + ": " + failure.reason +
        ".\n\nThe camera is not controlled: exposures are not made as set until the port works. "
        "A device that comes back is used again, from the rest level on.";
    if (failures_ > 1)
        failureMessage_ += "\n\nFailures of the port since the program started: " + std::to_string(failures_) + ".";
}

void ParallelPort::postPendingFailure() {
    if (failureMessage_.empty() || failureShown_) return;
    failureShown_ = true;
    notices_.post({failureMessage_, "Error", MB_OK | MB_ICONSTOP});
}

void ParallelPort::write(std::uint16_t address, std::uint8_t value) {
    catchUpOnSignalRest();
    const Micros time = clock_.now();
    backend_->write(address, value);
    // Logged once the backend has answered, so the log says whether it was carried.
    record(PortWrite{time, address, value, !backend_->failed(), clock_.suspended()});
    // Never shown from inside the write: it runs in the cycle's handlers.
    postPendingFailure();
}

void ParallelPort::catchUpOnSignalRest() {
    const std::optional<std::int64_t> restedNs = takePortRestByStop();
    if (!restedNs) return;
    const std::uint8_t held = data_;
    record(
        PortWrite{std::min(clock_.fromMonotonicNs(*restedNs), clock_.now()), kDataRegister, 0x00, !backend_->failed(),
                  clock_.suspended()});
    // The lines go back to what the program set; the log says from when.
    if (held != 0x00) write(kDataRegister, held);
}

namespace {

// The session's port observers, a component of their own so that
// subscribing does not bring the port up.
struct PortObservers {
    ObserverList<const PortWrite &> list;
};

}  // namespace

Subscription subscribeToPortWrites(std::function<void(const PortWrite &)> observer) {
    return session().component<PortObservers>().list.add(std::move(observer));
}

void ParallelPort::announce(const PortWrite &entry) {
    if (!hasSession()) return;
    Session &s = session();
    PortObservers *observers = s.findComponent<PortObservers>();
    // A port of a test's own, beside the session's, is not announced.
    if (!observers || s.findComponent<ParallelPort>() != this) return;
    observers->list.notify(entry);
}

void ParallelPort::record(const PortWrite &entry) {
    if (log_.size() == 2 * capacity_) {
        // Drop the oldest half; the copy stays within the reserved storage.
        std::copy(log_.end() - static_cast<std::ptrdiff_t>(capacity_), log_.end(), log_.begin());
        log_.resize(capacity_);
    }
    log_.push_back(entry);
    ++total_;
    if (entry.address == kDataRegister) {
        if (integrating(entry.value) && !integrating(data_)) {
            exposureCarried_ = entry.carried;
        } else if (integrating(data_)) {
            exposureCarried_ = exposureCarried_ && entry.carried;
            if (!integrating(entry.value)) {
                lastExposureCarried_ = exposureCarried_;
                carriedSinceTold_ = carriedSinceTold_ || exposureCarried_;
                ++exposuresEnded_;
            }
        }
        data_ = entry.value;
    }
    announce(entry);
    listeners_.notify(entry);
}

std::span<const PortWrite> ParallelPort::writes() const {
    const std::size_t n = std::min(log_.size(), capacity_);
    return {log_.data() + (log_.size() - n), n};
}

Subscription ParallelPort::subscribe(std::function<void(const PortWrite &)> listener) {
    return listeners_.add(std::move(listener));
}

}  // namespace plat
