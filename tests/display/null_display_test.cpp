// The display without windows that tools and benchmarks run on: the loop's
// timers come on the session's clock, and a loop that would wait for a
// person is told that none can come. And a display that says nothing of
// poll() still lets a person in.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "core/session.h"
#include "display/null_display.h"
#include "test_session.h"

namespace noctil::test {
namespace {

int timerCalls = 0;
DWORD lastTimerTime = 0;
void CALLBACK quitOnThirdCall(HWND window, UINT, UINT_PTR id, DWORD time) {
    lastTimerTime = time;
    if (++timerCalls == 3) {
        KillTimer(window, id);
        PostQuitMessage(7);
    }
}

int runLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    return static_cast<int>(msg.wParam);
}

TEST(NullDisplay, RunsTheLoopsTimersOnTheSessionsClock) {
    TestSession session("noctil-null-display", SessionClock::Virtual, std::make_shared<plat::NullDisplay>());
    timerCalls = 0;
    ASSERT_NE(SetTimer(nullptr, 0, 250, quitOnThirdCall), 0u);
    EXPECT_EQ(runLoop(), 7);
    EXPECT_EQ(timerCalls, 3);
    EXPECT_EQ(lastTimerTime, 750u);
    EXPECT_EQ(session.session().clock().now(), 750'000);
}

TEST(NullDisplay, SaysSoWhenTheLoopWouldWaitForAPerson) {
    TestSession session("noctil-null-display", SessionClock::Virtual, std::make_shared<plat::NullDisplay>());
    plat::Display &display = session.session().display();
    display.poll();  // nothing to deliver, and no time passes
    EXPECT_EQ(session.session().clock().now(), 0);
    EXPECT_THROW(display.wait(std::nullopt), plat::NothingToWaitFor);
    EXPECT_THROW(runLoop(), plat::NothingToWaitFor);
}

// A display that only waits (written before poll() was asked of displays).
class WaitOnlyDisplay final : public plat::Display {
public:
    void wait(std::optional<plat::Micros> deadline) override { deadlines.push_back(deadline); }
    std::vector<std::optional<plat::Micros>> deadlines;
};

TEST(DisplayPoll, ADisplayThatOnlyWaitsIsAskedToWaitUntilNow) {
    auto display = std::make_shared<WaitOnlyDisplay>();
    TestSession session("noctil-wait-only", SessionClock::Virtual, display);
    session.session().clock().sleepUntil(1'500);
    display->poll();
    EXPECT_EQ(display->deadlines, (std::vector<std::optional<plat::Micros>>{plat::Micros{1'500}}));
}

}  // namespace
}  // namespace noctil::test
