#include "message_sequence.h"

#include <cstdio>
#include <string>
#include <vector>

namespace noctil::test {

namespace {

const MSG *dispatching = nullptr;

std::string describeExpected(const ExpectedMessage &e) {
    char text[96];
    std::snprintf(text, sizeof text, "0x%04X%s%s", e.message,
                  (e.flags & kMsgSent)     ? " sent"
                  : (e.flags & kMsgPosted) ? " posted"
                                           : "",
                  (e.flags & kMsgOptional) ? " (optional)" : "");
    std::string out = text;
    if (e.flags & kMsgWParam) {
        std::snprintf(text, sizeof text, " wParam=0x%llX", static_cast<unsigned long long>(e.wParam));
        out += text;
    }
    if (e.flags & kMsgLParam) {
        std::snprintf(text, sizeof text, " lParam=0x%llX", static_cast<unsigned long long>(e.lParam));
        out += text;
    }
    return out;
}

std::string describeActual(const RecordedMessage &a) {
    char text[96];
    std::snprintf(text, sizeof text, "0x%04X %s wParam=0x%llX lParam=0x%llX", a.message, a.posted ? "posted" : "sent",
                  static_cast<unsigned long long>(a.wParam), static_cast<unsigned long long>(a.lParam));
    return text;
}

bool matches(const ExpectedMessage &e, const RecordedMessage &a) {
    if (e.message != a.message) return false;
    if ((e.flags & kMsgSent) && a.posted) return false;
    if ((e.flags & kMsgPosted) && !a.posted) return false;
    if ((e.flags & kMsgWParam) && e.wParam != a.wParam) return false;
    if ((e.flags & kMsgLParam) && e.lParam != a.lParam) return false;
    return true;
}

}  // namespace

::testing::AssertionResult sequenceMatches(const char *context, const char *what, const SequenceRules &rules) {
    struct Row {
        std::string expected, actual;
        bool bad = false;
    };
    std::vector<Row> rows;
    bool ok = true;
    std::size_t a = 0;
    for (std::size_t e = 0; e < rules.expectedCount; ++e) {
        const bool present = a < rules.actualCount && rules.matches(e, a);
        if (!present && rules.optional(e)) continue;
        rows.push_back(
            Row{rules.describeExpected(e), a < rules.actualCount ? rules.describeActual(a) : "(none)", !present});
        if (!present) ok = false;
        if (a < rules.actualCount) ++a;
    }
    for (; a < rules.actualCount; ++a) {
        rows.push_back(Row{"(nothing more)", rules.describeActual(a), true});
        ok = false;
    }
    if (ok) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << context << ": " << what << "\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        char line[512];
        std::snprintf(line, sizeof line, "%s %2zu  expected %-40s  actual %s\n", rows[i].bad ? "!!" : "  ", i + 1,
                      rows[i].expected.c_str(), rows[i].actual.c_str());
        failure << line;
    }
    return failure;
}

::testing::AssertionResult messageSequenceMatches(const char *context, std::span<const ExpectedMessage> expected,
                                                  std::span<const RecordedMessage> actual) {
    SequenceRules rules;
    rules.expectedCount = expected.size();
    rules.actualCount = actual.size();
    rules.matches = [&](std::size_t e, std::size_t a) { return matches(expected[e], actual[a]); };
    rules.optional = [&](std::size_t e) { return (expected[e].flags & kMsgOptional) != 0; };
    rules.describeExpected = [&](std::size_t e) { return describeExpected(expected[e]); };
    rules.describeActual = [&](std::size_t a) { return describeActual(actual[a]); };
    return sequenceMatches(context, "message sequence", rules);
}

const MSG *messageBeingDispatched() { return dispatching; }

LRESULT dispatchNoted(const MSG &msg) {
    const MSG *outer = dispatching;
    dispatching = &msg;
    const LRESULT result = DispatchMessageA(&msg);
    dispatching = outer;
    return result;
}

bool isPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int depth) {
    const MSG *m = dispatching;
    return depth == 0 && m && m->hwnd == window && m->message == message && m->wParam == wParam && m->lParam == lParam;
}

}  // namespace noctil::test
