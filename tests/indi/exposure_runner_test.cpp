// Exposures on their own thread: the events the event loop is told, in
// order; an abort that ends a wait at once; one exposure at a time.
#include <gtest/gtest.h>
#include <poll.h>

#include <vector>

#include "exposure_runner.h"

namespace noctil::indi {
namespace {

using Kind = RunnerEvent::Kind;

constexpr plat::Micros kReadout = 120'000;

// A camera that integrates and reads out by waiting on the clock, as the
// engine does, and says which phase it is in.
class WaitingCamera : public Camera {
public:
    explicit WaitingCamera(plat::Clock &clock) : clock_(clock) {}
    ExposureOutcome expose(const ExposureRequest &request, AbortSignal &abort,
                           const std::function<void(Phase)> &phase) override {
        ExposureOutcome o;
        o.requested = request.length;
        o.exposeStart = clock_.now();
        phase(Phase::Integrating);
        if (abort.waitUntil(clock_, o.exposeStart + request.length)) return aborted(o);
        o.exposeEnd = clock_.now();
        phase(Phase::ReadingOut);
        if (abort.waitUntil(clock_, o.exposeEnd + kReadout)) return aborted(o);
        o.end = ExposureOutcome::End::Image;
        return o;
    }

private:
    ExposureOutcome aborted(ExposureOutcome o) {
        o.end = ExposureOutcome::End::Aborted;
        return o;
    }
    plat::Clock &clock_;
};

// The runner's events until `last` is among them, waiting on its event
// descriptor as the event loop does (at most a few seconds for each).
std::vector<RunnerEvent> eventsUntil(ExposureRunner &runner, Kind last) {
    std::vector<RunnerEvent> seen;
    for (int turn = 0; turn < 16; ++turn) {
        pollfd fd{runner.eventFd(), POLLIN, 0};
        if (poll(&fd, 1, 5000) != 1) break;
        for (RunnerEvent &e : runner.takeEvents()) seen.push_back(std::move(e));
        if (!seen.empty() && seen.back().kind == last) break;
    }
    return seen;
}

std::vector<Kind> kinds(const std::vector<RunnerEvent> &events) {
    std::vector<Kind> k;
    for (const RunnerEvent &e : events) k.push_back(e.kind);
    return k;
}

TEST(ExposureRunner, TellsIntegrationReadoutAndTheOutcomeInOrder) {
    plat::VirtualClock clock;
    WaitingCamera camera(clock);
    ExposureRunner runner(camera);
    ASSERT_TRUE(runner.start({2'000'000, false}));
    const std::vector<RunnerEvent> events = eventsUntil(runner, Kind::Finished);
    EXPECT_EQ(kinds(events), (std::vector<Kind>{Kind::Integrating, Kind::ReadingOut, Kind::Finished}));
    ASSERT_TRUE(events.back().outcome);
    EXPECT_EQ(events.back().outcome->end, ExposureOutcome::End::Image);
    EXPECT_EQ(events.back().outcome->exposure(), 2'000'000);
    EXPECT_EQ(clock.now(), 2'000'000 + kReadout);
}

// An abort ends the integration's wait at once, though the exposure was an
// hour long: the engine rests the port then.
TEST(ExposureRunner, AnAbortEndsTheExposureAtOnce) {
    plat::RealClock clock;
    WaitingCamera camera(clock);
    ExposureRunner runner(camera);
    ASSERT_TRUE(runner.start({3'600'000'000, false}));
    ASSERT_EQ(kinds(eventsUntil(runner, Kind::Integrating)), std::vector<Kind>{Kind::Integrating});
    runner.abort();
    const std::vector<RunnerEvent> events = eventsUntil(runner, Kind::Finished);
    ASSERT_EQ(kinds(events), std::vector<Kind>{Kind::Finished});
    EXPECT_EQ(events.back().outcome->end, ExposureOutcome::End::Aborted);
    EXPECT_FALSE(runner.running());
}

TEST(ExposureRunner, OneExposureAtATime) {
    plat::RealClock clock;
    WaitingCamera camera(clock);
    ExposureRunner runner(camera);
    ASSERT_TRUE(runner.start({3'600'000'000, false}));
    EXPECT_FALSE(runner.start({1'000, false})) << "while the first integrates";
    runner.stop();
    EXPECT_EQ(kinds(eventsUntil(runner, Kind::Finished)).back(), Kind::Finished);
    // A new one after the first has ended, and its abort flag is its own.
    ASSERT_TRUE(runner.start({1'000, false}));
    const std::vector<RunnerEvent> events = eventsUntil(runner, Kind::Finished);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().outcome->end, ExposureOutcome::End::Image);
}

struct WaitCase {
    const char *what;
    bool raisedBefore;
    bool returns;
    plat::Micros clockAfter;
};

TEST(AbortSignal, OnTheVirtualClockAWaitJumpsUnlessRaised) {
    // clang-format off
    const WaitCase cases[] = {
        {"not raised: the clock jumps to the time", false, false, 5'000},
        {"raised before: nothing waits",            true,  true,  0},
    };
    // clang-format on
    for (const WaitCase &c : cases) {
        plat::VirtualClock clock;
        AbortSignal abort;
        if (c.raisedBefore) abort.raise();
        EXPECT_EQ(abort.waitUntil(clock, 5'000), c.returns) << c.what;
        EXPECT_EQ(clock.now(), c.clockAfter) << c.what;
    }
}

}  // namespace
}  // namespace noctil::indi
