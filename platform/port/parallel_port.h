// The PC parallel port as the platform offers it to the program's _outp: it
// logs every write with its time on the clock it is given, tells the
// listeners (the simulated camera, tests, displays), and hands the byte to
// its backend. What a person must hear of its device goes to the notices it
// is given, which the window system shows from its message loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/notices.h"
#include "core/observer_list.h"
#include "core/session.h"
#include "core/signals.h"
#include "port/port_backend.h"

namespace plat {

struct PortWrite {
    Micros time;
    std::uint16_t address;
    std::uint8_t value;
    // The backend carried it to the lines (false: its device had failed or
    // was gone, so the lines hold what they held, or nothing).
    bool carried = true;
    // The clock's suspended() at the write: an exposure over a suspension
    // shows it grown.
    Micros suspended = 0;
};

class ParallelPort {
public:
    static constexpr std::uint16_t kDataRegister = 0x378;
    static constexpr std::size_t kLogCapacity = std::size_t{1} << 16;

    // A port on `clock` whose failures go to `notices`, with its backend
    // (null: the simulated one), its log size and the failures the backend
    // reported before the port took it over.
    ParallelPort(Clock &clock, Notices &notices, std::unique_ptr<PortBackend> backend,
                 std::size_t logCapacity = kLogCapacity, std::vector<PortFailure> earlier = {});
    ~ParallelPort();
    ParallelPort(const ParallelPort &) = delete;
    ParallelPort &operator=(const ParallelPort &) = delete;

    // What _outp does: log, notify, pass to the backend. Never allocates.
    void write(std::uint16_t address, std::uint8_t value);
    // A stop signal's handler rested the lines behind the log's back: logs
    // that rest at its time and writes the level the program had set again.
    // The loop has it called at every turn (the session's first port
    // answers there), and every write calls it first.
    void catchUpOnSignalRest();
    // The last value written to the data register (0 at start).
    std::uint8_t data() const { return data_; }
    // The writes in order with their clock times: all of them, or the newest
    // logCapacity() once more were made.
    std::span<const PortWrite> writes() const;
    // Writes that fell out of the log because it was full.
    std::uint64_t droppedWrites() const { return total_ - writes().size(); }
    std::size_t logCapacity() const { return capacity_; }

    // A listener is called after each write is logged, in the order of
    // subscription, while its subscription lives. Listeners may subscribe and
    // unsubscribe (themselves too) from inside a call; a new listener hears
    // the writes after the current one.
    Subscription subscribe(std::function<void(const PortWrite &)> listener);

    const PortBackend &backend() const { return *backend_; }
    // Carries the writes from now on to `backend` (a test's device).
    void setBackend(std::unique_ptr<PortBackend> backend);

    // A backend's failure: its details go to standard error at once; the
    // person sees it in a message box titled "Error", posted to the notices
    // after the write that failed has returned (or at postPendingFailure, at
    // start). Each failure of another device or reason than the one told last
    // is told, and so is the same one once an exposure was carried since; the
    // same one again before that is only counted. A device back as another
    // kind of device has a box of its own, once.
    void failed(const PortFailure &failure);
    void postPendingFailure();
    // The text of the latest such message box ("" while nothing failed).
    const std::string &failureMessage() const { return failureMessage_; }
    // The failures reported so far, told or only counted.
    std::uint64_t failures() const { return failures_; }

    // Exposures that have ended (an integration level on the data register
    // followed by another level), and whether the backend carried every
    // write of the last of them, from its start to the level that ended it.
    // One it did not carry was not integrated as set, whatever the lines did.
    std::uint64_t exposuresEnded() const { return exposuresEnded_; }
    bool lastExposureCarried() const { return lastExposureCarried_; }
    // Why the port does not carry the writes, for a person ("the camera port
    // is gone: /dev/ttyUSB0: no such device"); "" before any failure.
    const std::string &lossReason() const { return lossReason_; }

    // Leaves the port's answer to a rest made by a stop signal's handler
    // with `answer` (a session component the message loop asks at every
    // turn), unless another port answers there already.
    void answerStopRests(PortRestByStopAnswer &answer);

private:
    // Logs the write and tells the observers (port/port_events.h), then the
    // listeners.
    void record(const PortWrite &entry);
    void announce(const PortWrite &entry);

    Clock &clock_;
    Notices &notices_;
    PortRestByStopAnswer *stopAnswer_ = nullptr;
    std::unique_ptr<PortBackend> backend_;
    std::size_t capacity_;
    // Twice the capacity is reserved; when it fills, the newest `capacity_`
    // writes move to the front, so that writes() stays one contiguous span
    // and no write ever allocates.
    std::vector<PortWrite> log_;
    std::uint64_t total_ = 0;
    std::uint8_t data_ = 0;
    ObserverList<const PortWrite &> listeners_;
    std::string failureMessage_;
    bool failureShown_ = false;
    bool otherDeviceTold_ = false;
    std::string lossReason_;
    PortFailure told_;               // the failure the person was told of last
    bool carriedSinceTold_ = false;  // an exposure was carried since
    std::uint64_t failures_ = 0;
    bool exposureCarried_ = true;  // of the exposure under way
    bool lastExposureCarried_ = true;
    std::uint64_t exposuresEnded_ = 0;
};

// The port of `session` with `backend` (the one the platform's
// configuration names: makeConfiguredPortBackend) and the failures that
// making it reported, on the session's clock, telling the session's notices,
// answering stop rests there. The one way a session gets its port (the
// process start and the tests' sessions); there must be none yet.
ParallelPort &makeSessionPort(Session &session, std::unique_ptr<PortBackend> backend,
                              std::vector<PortFailure> earlier = {});

}  // namespace plat
