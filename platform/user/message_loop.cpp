// Messages and the loop: sent messages are calls, posted ones wait in the
// queue. GetMessageA hands out, in this order, posted messages, the quit
// request, WM_PAINT for a window that needs painting and WM_TIMER for a timer
// that is due (after the display has delivered what a person did meanwhile);
// with nothing to hand out it lets the display wait until the next timer
// falls due (on the virtual clock, time jumps there).
#include <windows.h>

#include <algorithm>

#include "core/session.h"
#include "core/notices.h"
#include "core/signals.h"
#include "display/display.h"
#include "user/user_state.h"

namespace plat::user {

namespace {

bool isKeyMessage(UINT message) {
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_SYSKEYDOWN || message == WM_SYSKEYUP;
}

bool matches(HWND filter, UINT min, UINT max, HWND window, UINT message) {
    if (filter && !isDescendant(window, filter)) return false;
    if ((min || max) && (message < min || message > max)) return false;
    return true;
}

Micros clockNow() { return session().clock().now(); }

MSG makeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = toMillis(clockNow());
    return msg;
}

std::optional<QueuedMessage> takePosted(HWND filter, UINT min, UINT max) {
    WindowSystem &s = state();
    for (auto it = s.queue.begin(); it != s.queue.end();) {
        if (it->msg.hwnd && !lookup(it->msg.hwnd)) {  // its window has gone
            it = s.queue.erase(it);
            continue;
        }
        if (matches(filter, min, max, it->msg.hwnd, it->msg.message)) {
            QueuedMessage q = *it;
            s.queue.erase(it);
            return q;
        }
        ++it;
    }
    return std::nullopt;
}

HWND windowToPaint(HWND filter) {
    for (auto &[id, w] : state().windows)
        if (w->invalid && !w->destroying && isVisible(*w) && matches(filter, 0, 0, w->handle, WM_PAINT))
            return w->handle;
    return nullptr;
}

Timer *earliestTimer(HWND filter) {
    Timer *best = nullptr;
    for (Timer &t : state().timers) {
        if (filter && !isDescendant(t.window, filter)) continue;
        if (!best || t.due < best->due || (t.due == best->due && t.order < best->order)) best = &t;
    }
    return best;
}

// After a stop (Ctrl+Z, then fg) every top-level window hears that the
// process resumes, as Windows tells them after a suspension: time went by
// in which the program did nothing and the camera port rested. Posted, so
// it comes before any timer that fell due meanwhile.
void tellResumedAfterStop() {
    if (!takeContinuedAfterStop()) return;
    for (HWND window : topLevelWindows()) PostMessageA(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
}

}  // namespace

void dropMessagesFor(HWND window) {
    std::erase_if(state().queue, [window](const QueuedMessage &q) { return q.msg.hwnd == window; });
}

void killTimersOf(HWND window) {
    std::erase_if(state().timers, [window](const Timer &t) { return t.window == window; });
}

std::optional<Micros> nextTimerDue() {
    if (Timer *t = earliestTimer(nullptr)) return t->due;
    return std::nullopt;
}

bool runModalLoop(const std::function<bool()> &done, const std::function<bool(MSG &)> &filter) {
    while (!done()) {
        MSG msg;
        if (!GetMessageA(&msg, nullptr, 0, 0)) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        if (filter && filter(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return true;
}

unsigned keyModifiers() { return state().lastModifiers; }

// Posts one key message with what the keyboard knew when it was made.
void postKeyMessage(HWND window, UINT message, WPARAM key, LPARAM lParam, char character, unsigned modifiers) {
    QueuedMessage q;
    q.msg = makeMessage(window, message, key, lParam);
    q.character = character;
    q.modifiers = modifiers;
    state().queue.push_back(q);
}

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" {

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto w = lookup(window);
    if (!w) return 0;
    return callWindowProc(w, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window && !lookup(window)) return FALSE;
    QueuedMessage q;
    q.msg = makeMessage(window, message, wParam, lParam);
    state().queue.push_back(q);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    WindowSystem &s = state();
    s.quitPending = true;
    s.quitCode = exitCode;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
    WindowSystem &s = state();
    s.inputChecked = false;  // the last message handed out may have taken a while
    for (;;) {
        answerTerminationRequest();  // a signal asked the program to end: close the main window
        // A stop signal rested the camera port while the process stood still.
        answerPortRestByStop();
        tellResumedAfterStop();
        showPostedNotices();  // what a port write had to say, now that it has returned
        if (auto q = takePosted(window, filterMin, filterMax)) {
            *msg = q->msg;
            if (isKeyMessage(msg->message)) {
                s.lastKey = static_cast<UINT>(msg->wParam);
                s.lastCharacter = q->character;
                s.lastModifiers = q->modifiers;
            }
            return msg->message != WM_QUIT;
        }
        if (s.quitPending) {
            s.quitPending = false;
            *msg = makeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0);
            return FALSE;
        }
        if (HWND paint = windowToPaint(window)) {
            *msg = makeMessage(paint, WM_PAINT, 0, 0);
            return TRUE;
        }
        Timer *t = earliestTimer(window);
        const Micros now = clockNow();
        if (t && t->due <= now) {
            // A timer message is made only when no input is waiting: unless
            // the display has just waited, it delivers what a person did
            // first, so timers due on every turn never shut input out.
            if (!s.inputChecked) {
                session().display().poll();
                s.inputChecked = true;
                continue;
            }
            // The period runs again from the moment the timer message is made.
            t->due = now + t->period;
            *msg = makeMessage(t->window, WM_TIMER, t->id, reinterpret_cast<LPARAM>(t->proc));
            return TRUE;
        }
        session().display().wait(t ? std::optional<Micros>(t->due) : std::nullopt);
        s.inputChecked = true;
    }
}

LRESULT WINAPI DispatchMessageA(const MSG *msg) {
    if (!msg) return 0;
    if (msg->message == WM_TIMER && msg->lParam) {
        auto proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        proc(msg->hwnd, WM_TIMER, msg->wParam, toMillis(clockNow()));
        return 0;
    }
    if (!msg->hwnd) return 0;  // a thread message has no procedure to go to
    return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc) {
    WindowSystem &s = state();
    if (window && !lookup(window)) return 0;
    if (!window) id = s.nextThreadTimerId++;
    // As on Windows: shorter durations run USER_TIMER_MINIMUM, longer ones
    // USER_TIMER_MAXIMUM. A timer re-armed at 0 ms on every turn therefore
    // still leaves the loop a wait, in which the display shows the model.
    const UINT ms = std::clamp<UINT>(elapseMs, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    const Micros period = static_cast<Micros>(ms) * 1000;
    Timer timer{window, id, period, clockNow() + period, s.nextTimerOrder++, proc};
    auto it = std::find_if(s.timers.begin(), s.timers.end(),
                           [&](const Timer &t) { return t.window == window && t.id == id; });
    if (it != s.timers.end())
        *it = timer;  // setting a running timer again restarts it
    else
        s.timers.push_back(timer);
    return id ? id : 1;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    auto &timers = state().timers;
    auto it =
        std::find_if(timers.begin(), timers.end(), [&](const Timer &t) { return t.window == window && t.id == id; });
    if (it == timers.end()) return FALSE;
    timers.erase(it);
    return TRUE;
}

}  // extern "C"
