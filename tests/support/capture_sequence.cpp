#include "capture_sequence.h"

#include <cstdio>
#include <string>

namespace noctil::test {

namespace {

bool matches(const ExpectedCapture &e, const RecordedCapture &a) {
    if (e.call != a.call || (e.call == kCapSent && e.message != a.message)) return false;
    if (((e.flags & kCapNested) != 0) != (a.depth > 0)) return false;
    if ((e.flags & kCapValue) && e.value != a.value) return false;
    return true;
}

std::string describeExpected(const ExpectedCapture &e) {
    char text[96];
    if (e.call == kCapFrame)
        std::snprintf(text, sizeof text, "frame");
    else
        std::snprintf(text, sizeof text, "sent 0x%04X", e.message);
    std::string out = text;
    if (e.flags & kCapValue) {
        std::snprintf(text, sizeof text, e.call == kCapFrame ? " byte=%lld" : " answer=%lld",
                      static_cast<long long>(e.value));
        out += text;
    }
    if (e.flags & kCapNested) out += " nested";
    if (e.flags & kCapOptional) out += " (optional)";
    return out;
}

std::string describeActual(const RecordedCapture &a) {
    char text[96];
    if (a.call == kCapFrame)
        std::snprintf(text, sizeof text, "frame byte=%lld", static_cast<long long>(a.value));
    else
        std::snprintf(text, sizeof text, "sent 0x%04X answer=%lld", a.message, static_cast<long long>(a.value));
    std::string out = text;
    if (a.depth > 0) out += " nested";
    return out;
}

}  // namespace

::testing::AssertionResult captureSequenceMatches(const char *context, std::span<const ExpectedCapture> expected,
                                                  std::span<const RecordedCapture> actual) {
    SequenceRules rules;
    rules.expectedCount = expected.size();
    rules.actualCount = actual.size();
    rules.matches = [&](std::size_t e, std::size_t a) { return matches(expected[e], actual[a]); };
    rules.optional = [&](std::size_t e) { return (expected[e].flags & kCapOptional) != 0; };
    rules.describeExpected = [&](std::size_t e) { return describeExpected(expected[e]); };
    rules.describeActual = [&](std::size_t a) { return describeActual(actual[a]); };
    return sequenceMatches(context, "capture calls", rules);
}

}  // namespace noctil::test
