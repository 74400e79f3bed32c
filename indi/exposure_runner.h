// Exposures on a thread of their own. The INDI event loop stays free while
// the port holds a level or a readout streams, so an abort is taken at once;
// what the exposure did (integration begun, readout begun, the outcome) goes
// back to the loop through an event descriptor it watches.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/clock.h"
#include "exposure.h"

namespace noctil::indi {

// An abort asked for from another thread.
class AbortSignal {
public:
    void raise();
    void clear();
    bool raised() const;
    // Waits on `clock` until `when` or until raised: true when raised. A
    // virtual clock jumps to `when` unless already raised.
    bool waitUntil(plat::Clock &clock, plat::Micros when);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool raised_ = false;
};

// What the lines are doing, as the engine tells it from inside an exposure.
enum class Phase { Integrating, ReadingOut };

// The engine: takes one exposure, from the first level to the kept image.
class Camera {
public:
    virtual ~Camera() = default;
    // Returns when the image is kept, the exposure was aborted (port at rest)
    // or failed. `phase` is called as the lines change.
    virtual ExposureOutcome expose(const ExposureRequest &request, AbortSignal &abort,
                                   const std::function<void(Phase)> &phase) = 0;
};

struct RunnerEvent {
    enum class Kind { Integrating, ReadingOut, Finished };
    Kind kind;
    std::optional<ExposureOutcome> outcome;  // with Finished
};

class ExposureRunner {
public:
    explicit ExposureRunner(Camera &camera);
    // Aborts an exposure still running and waits for it.
    ~ExposureRunner();
    ExposureRunner(const ExposureRunner &) = delete;
    ExposureRunner &operator=(const ExposureRunner &) = delete;

    // False while an exposure runs.
    bool start(const ExposureRequest &request);
    void abort();
    // Aborts and waits until the exposure has ended (the port at rest).
    void stop();
    bool running() const;

    // Readable while events wait; takeEvents() empties it.
    int eventFd() const { return eventFd_; }
    std::vector<RunnerEvent> takeEvents();

private:
    void run(ExposureRequest request);
    void post(RunnerEvent event);

    Camera &camera_;
    AbortSignal abort_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::deque<RunnerEvent> events_;
    bool running_ = false;
    int eventFd_ = -1;
};

}  // namespace noctil::indi
