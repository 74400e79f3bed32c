// Expected message sequences as constant tables, compared with what a
// recording window procedure saw. Each expected message says with flags how
// it must have come (sent or posted), whether it may be absent, and which of
// its parameters must match; on a mismatch the expected and actual messages
// are printed side by side, numbered, under the comparison's context.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <functional>
#include <span>
#include <string>

namespace noctil::test {

// Flags of an expected message.
enum : unsigned {
    kMsgSent = 1,      // came through SendMessage (or the window system's own sending)
    kMsgPosted = 2,    // came through the queue: the loop dispatched it
    kMsgOptional = 4,  // may be absent; the next actual message is then compared with the next entry
    kMsgWParam = 8,    // wParam must be the one given
    kMsgLParam = 16,   // lParam must be the one given
};

struct ExpectedMessage {
    UINT message;
    unsigned flags = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

struct RecordedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool posted;  // dispatched by a test's loop, else sent
};

// The comparison every sequence table of the tests shares (messages here,
// menu and toolbar states in menu_states.h): each actual entry must be
// matched by the expected one at its place, in order; an optional expected
// entry that does not match is skipped. On a mismatch the expected and
// actual entries are printed side by side, numbered, under "<context>: <what>".
struct SequenceRules {
    std::size_t expectedCount = 0, actualCount = 0;
    std::function<bool(std::size_t expected, std::size_t actual)> matches;
    std::function<bool(std::size_t expected)> optional;
    std::function<std::string(std::size_t expected)> describeExpected;
    std::function<std::string(std::size_t actual)> describeActual;
};
::testing::AssertionResult sequenceMatches(const char *context, const char *what, const SequenceRules &rules);

// Every recorded message must be matched by an expected one, in order.
::testing::AssertionResult messageSequenceMatches(const char *context, std::span<const ExpectedMessage> expected,
                                                  std::span<const RecordedMessage> actual);

// The message the test's loop dispatches now, or null: a recording window
// procedure that gets exactly this message outside any nested one got it
// posted.
const MSG *messageBeingDispatched();
// DispatchMessageA, noting the message for messageBeingDispatched.
LRESULT dispatchNoted(const MSG &msg);
// True when the procedure now running (at nesting depth `depth` of the
// recorder, 0 outermost) got the message through the queue.
bool isPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int depth);

}  // namespace noctil::test
