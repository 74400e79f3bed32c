// Sent and posted messages, the order GetMessageA hands things out in,
// timers on the virtual clock, nested loops and hang detection.
#include <string>

#include "probe_window.h"

namespace noctil::test {
namespace {

using MessageLoop = UserTest;

TEST_F(MessageLoop, SendMessageIsASynchronousCallThatNests) {
    HWND a = make();
    HWND b = make();
    std::vector<std::string> trace;
    handler = [&](HWND w, UINT m, WPARAM wp, LPARAM) -> std::optional<LRESULT> {
        if (m < WM_USER) return std::nullopt;
        const std::string who = w == a ? "a" : "b";
        trace.push_back(who + "+" + std::to_string(m - WM_USER));
        LRESULT result = 0;
        if (w == a && m == WM_USER) result = SendMessageA(b, WM_USER + 1, wp + 1, 0) * 10;
        if (w == b && m == WM_USER + 1) result = SendMessageA(a, WM_USER + 2, wp + 1, 0) + 1;
        if (w == a && m == WM_USER + 2) result = static_cast<LRESULT>(wp);
        trace.push_back(who + "-" + std::to_string(m - WM_USER));
        return result;
    };
    EXPECT_EQ(SendMessageA(a, WM_USER, 1, 0), (3 + 1) * 10);
    EXPECT_EQ(trace, (std::vector<std::string>{"a+0", "b+1", "a+2", "a-2", "b-1", "a-0"}));
}

TEST_F(MessageLoop, HandsOutPostedMessagesThenQuitThenPaintThenTimers) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);  // needs painting
    SetTimer(w, 1, 0, nullptr);                       // due at once
    PostMessageA(w, WM_USER + 1, 0, 0);
    PostMessageA(w, WM_USER + 2, 0, 0);
    PostQuitMessage(4);
    PostMessageA(w, WM_USER + 3, 0, 0);
    // What GetMessageA hands out, WM_QUIT included (it is not dispatched):
    // every entry came through the queue, so only the order and the
    // parameters given are compared.
    std::vector<RecordedMessage> handedOut;
    MSG msg;
    for (int i = 0; i < 6; ++i) {
        BOOL more = GetMessageA(&msg, nullptr, 0, 0);
        handedOut.push_back({msg.message, msg.wParam, msg.lParam, true});
        if (!more) {
            EXPECT_EQ(msg.wParam, 4u);
            continue;
        }
        DispatchMessageA(&msg);
    }
    const ExpectedMessage kHandedOut[] = {
        {WM_USER + 1}, {WM_USER + 2}, {WM_USER + 3}, {WM_QUIT, kMsgWParam, 4}, {WM_PAINT}, {WM_TIMER, kMsgWParam, 1},
    };
    EXPECT_TRUE(messageSequenceMatches("posted, quit, paint, timer", kHandedOut, handedOut));
    EXPECT_EQ(nowMs(), 10u) << "a 0 ms timer runs the 10 ms minimum";
}

TEST_F(MessageLoop, TimerWaitsWhileMessagesArePosted) {
    HWND w = make();
    SetTimer(w, 1, 0, nullptr);
    int chain = 0;
    handler = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER && ++chain < 5) PostMessageA(h, WM_USER, 0, 0);
        if (m == WM_TIMER) {
            KillTimer(h, 1);
            PostQuitMessage(0);
        }
        return std::nullopt;
    };
    PostMessageA(w, WM_USER, 0, 0);
    EXPECT_EQ(runMessageLoop(), 0);
    // The timer, due at 10 ms, waits behind the chain of posted messages.
    const ExpectedMessage kChainThenTimer[] = {
        {WM_USER, kMsgPosted}, {WM_USER, kMsgPosted}, {WM_USER, kMsgPosted},
        {WM_USER, kMsgPosted}, {WM_USER, kMsgPosted}, {WM_TIMER, kMsgPosted | kMsgWParam, 1},
    };
    EXPECT_TRUE(messageSequenceMatches("posted chain, timer", kChainThenTimer, sequence(w, {WM_USER, WM_TIMER})));
}

TEST_F(MessageLoop, TimersRepeatOnExactMillisecondsUntilKilled) {
    HWND w = make();
    SetTimer(w, 9, 1001, nullptr);
    handler = [&](HWND h, UINT m, WPARAM id, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_TIMER && all(WM_TIMER).size() == 3) KillTimer(h, id);
        return std::nullopt;
    };
    user().at(10000, [] { PostQuitMessage(0); });
    EXPECT_EQ(runMessageLoop(), 0);
    std::vector<std::uint32_t> times;
    for (const Seen &s : all(WM_TIMER)) {
        EXPECT_EQ(s.wParam, 9u);
        times.push_back(s.ms);
    }
    EXPECT_EQ(times, (std::vector<std::uint32_t>{1001, 2002, 3003}));
    EXPECT_EQ(nowMs(), 10000u);
}

TEST_F(MessageLoop, TimersDueTogetherComeInTheOrderTheyWereArmed) {
    HWND w = make();
    SetTimer(w, 5, 100, nullptr);
    SetTimer(w, 3, 100, nullptr);
    SetTimer(w, 4, 50, nullptr);
    handler = [&](HWND h, UINT m, WPARAM id, LPARAM) -> std::optional<LRESULT> {
        if (m != WM_TIMER) return std::nullopt;
        KillTimer(h, id);
        // Setting timer 5 again restarts it: it now runs 100 ms from 50.
        if (id == 4) SetTimer(h, 5, 100, nullptr);
        if (all(WM_TIMER).size() == 3) PostQuitMessage(0);
        return 0;
    };
    EXPECT_EQ(runMessageLoop(), 0);
    const ExpectedMessage kTimers[] = {{WM_TIMER, kMsgPosted | kMsgWParam, 4},
                                       {WM_TIMER, kMsgPosted | kMsgWParam, 3},
                                       {WM_TIMER, kMsgPosted | kMsgWParam, 5}};
    EXPECT_TRUE(messageSequenceMatches("timers 5 and 3 at 100 ms, 4 at 50 ms", kTimers, sequence(w, {WM_TIMER})));
    EXPECT_EQ(nowMs(), 150u);
}

// Durations are raised to 10 ms and lowered to 2^31-1 ms, as Windows does.
TEST_F(MessageLoop, TimerDurationsAreKeptWithinTheWindowsLimits) {
    HWND w = make();
    const struct {
        UINT asked;
        plat::Micros dueMs;
    } cases[] = {{0, 10},
                 {1, 10},
                 {9, 10},
                 {10, 10},
                 {11, 11},
                 {0x7FFFFFFFu, 0x7FFFFFFF},
                 {0x80000000u, 0x7FFFFFFF},
                 {0xFFFFFFFFu, 0x7FFFFFFF}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.asked);
        EXPECT_EQ(SetTimer(w, 2, c.asked, nullptr), 2u);
        ASSERT_TRUE(plat::user::nextTimerDue());
        EXPECT_EQ(*plat::user::nextTimerDue(), c.dueMs * 1000);
    }
}

// Exposure 0 with delay 0: each timer message still comes 10 ms after it
// was armed, so the loop waits (and the display shows) between them.
TEST_F(MessageLoop, ZeroTimersRearmedOnEveryTurnComeTenMillisecondsApart) {
    HWND w = make();
    SetTimer(w, 1, 0, nullptr);
    handler = [&](HWND h, UINT m, WPARAM id, LPARAM) -> std::optional<LRESULT> {
        if (m != WM_TIMER) return std::nullopt;
        KillTimer(h, id);
        if (all(WM_TIMER).size() == 4)
            PostQuitMessage(0);
        else
            SetTimer(h, id, 0, nullptr);
        return 0;
    };
    EXPECT_EQ(runMessageLoop(), 0);
    std::vector<std::uint32_t> times;
    for (const Seen &s : all(WM_TIMER)) times.push_back(s.ms);
    EXPECT_EQ(times, (std::vector<std::uint32_t>{10, 20, 30, 40}));
}

TEST_F(MessageLoop, KillTimerKnowsItsTimers) {
    HWND w = make();
    EXPECT_EQ(SetTimer(w, 2, 5000, nullptr), 2u);
    ASSERT_TRUE(plat::user::nextTimerDue());
    EXPECT_TRUE(KillTimer(w, 2));
    EXPECT_FALSE(KillTimer(w, 2));
    EXPECT_FALSE(plat::user::nextTimerDue());
    EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x1234), 1, 10, nullptr), 0u);
}

void CALLBACK countingTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time);
int timerProcCalls = 0;
DWORD lastTimerProcTime = 0;
void CALLBACK countingTimerProc(HWND window, UINT message, UINT_PTR id, DWORD time) {
    ++timerProcCalls;
    lastTimerProcTime = time;
    if (timerProcCalls == 2) {
        KillTimer(window, id);
        PostQuitMessage(0);
    }
}

TEST_F(MessageLoop, ThreadTimerRunsItsProcedure) {
    timerProcCalls = 0;
    UINT_PTR id = SetTimer(nullptr, 0, 40, countingTimerProc);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_EQ(timerProcCalls, 2);
    EXPECT_EQ(lastTimerProcTime, 80u);
}

TEST_F(MessageLoop, ScriptedActionsRunInOrderAtTheirVirtualTimes) {
    HWND w = make();
    std::vector<std::pair<std::string, std::uint32_t>> log;
    user().at(300, [&] { log.push_back({"b", nowMs()}); });
    user().at(100, [&] {
        log.push_back({"a", nowMs()});
        user().after(250, [&] {
            log.push_back({"c", nowMs()});
            PostMessageA(w, WM_CLOSE, 0, 0);
        });
    });
    user().at(300, [&] { log.push_back({"b2", nowMs()}); });
    handler = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_DESTROY) PostQuitMessage(0);
        return std::nullopt;
    };
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_EQ(log,
              (std::vector<std::pair<std::string, std::uint32_t>>{{"a", 100}, {"b", 300}, {"b2", 300}, {"c", 350}}));
}

TEST_F(MessageLoop, WhatAPersonDidComesBeforeATimerThatIsDueOnEveryTurn) {
    HWND w = make();
    // A timer of the 10 ms minimum whose messages each keep the loop busy
    // for 10 ms is due again at once, so the loop never waits for the person.
    SetTimer(w, 1, 0, nullptr);
    std::vector<std::uint32_t> timers;
    std::uint32_t closedAt = 0;
    handler = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_TIMER) {
            timers.push_back(nowMs());
            plat::session().clock().sleepUntil(plat::session().clock().now() + 10'000);
        }
        if (m == WM_CLOSE) {
            closedAt = nowMs();
            KillTimer(h, 1);
            PostQuitMessage(0);
            return 0;
        }
        return std::nullopt;
    };
    user().at(45, [&] { PostMessageA(w, WM_CLOSE, 0, 0); });
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_EQ(closedAt, 50u) << "the first turn after the person acted";
    EXPECT_EQ(timers, (std::vector<std::uint32_t>{10, 20, 30, 40}));
}

// What the hang said when GetMessageA hung; empty when it returned.
std::string hangOfGetMessage() {
    try {
        MSG msg;
        GetMessageA(&msg, nullptr, 0, 0);
        return "";
    } catch (const plat::Hang &hang) {
        return hang.what();
    }
}

TEST_F(MessageLoop, ALoopWithNothingToWaitForIsAHang) {
    make();
    EXPECT_NE(hangOfGetMessage().find("no timer running"), std::string::npos);
}

TEST_F(MessageLoop, RunningPastTheTimeLimitIsAHang) {
    setTimeLimitMs(5000);
    HWND w = make();
    SetTimer(w, 1, 6000, nullptr);
    EXPECT_NE(hangOfGetMessage().find("limit of 5000 ms"), std::string::npos);
    EXPECT_EQ(nowMs(), 0u);  // the clock never moved past the limit
}

TEST_F(MessageLoop, ModalLoopRunsTimersAndPostedMessagesUntilDone) {
    HWND w = make();
    bool done = false;
    std::vector<std::uint32_t> timerTimes;
    handler = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_TIMER) timerTimes.push_back(nowMs());
        if (m == WM_USER) done = true;
        return std::nullopt;
    };
    SetTimer(w, 1, 100, nullptr);
    user().at(350, [&] { PostMessageA(w, WM_USER, 0, 0); });
    EXPECT_TRUE(plat::user::runModalLoop([&] { return done; }));
    EXPECT_EQ(timerTimes, (std::vector<std::uint32_t>{100, 200, 300}));
    EXPECT_EQ(nowMs(), 350u);
}

TEST_F(MessageLoop, QuitInsideAModalLoopEndsTheOuterLoopToo) {
    HWND w = make();
    int outerMessages = 0;
    handler = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER) {
            ++outerMessages;
            bool modalResult = plat::user::runModalLoop([] { return false; });
            EXPECT_FALSE(modalResult);
        }
        if (m == WM_USER + 1) PostQuitMessage(7);
        return std::nullopt;
    };
    PostMessageA(w, WM_USER, 0, 0);
    PostMessageA(w, WM_USER + 1, 0, 0);
    EXPECT_EQ(runMessageLoop(), 7);
    EXPECT_EQ(outerMessages, 1);
}

TEST_F(MessageLoop, GetMessageFiltersByWindowAndRange) {
    HWND a = make();
    HWND b = make();
    PostMessageA(a, WM_USER + 1, 0, 0);
    PostMessageA(b, WM_USER + 2, 0, 0);
    PostMessageA(b, WM_USER + 9, 0, 0);
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, b, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 2u);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, WM_USER + 5, WM_USER + 10));
    EXPECT_EQ(msg.message, WM_USER + 9u);
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, WM_USER + 1u);
    EXPECT_EQ(msg.hwnd, a);
}

}  // namespace
}  // namespace noctil::test
