#include "port_timeline.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/session.h"

namespace noctil::test {

namespace {

constexpr plat::Micros kMicrosPerMs = 1000;

std::string describeExpected(const ExpectedPortWrite &e) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%02X +%ums%s%s", e.value, e.afterMs,
                  (e.flags & kPortAfterReadout) ? "+readout" : "", (e.flags & kPortOptional) ? " (optional)" : "");
    return text;
}

std::string describeActual(const plat::PortWrite &w, plat::Micros anchor) {
    char text[64];
    std::snprintf(text, sizeof text, "0x%02X at %lld.%03lld ms (+%lld.%03lld)", w.value,
                  static_cast<long long>(w.time / 1000), static_cast<long long>(w.time % 1000),
                  static_cast<long long>((w.time - anchor) / 1000), static_cast<long long>((w.time - anchor) % 1000));
    return text;
}

}  // namespace

std::vector<plat::PortWrite> cameraPortWrites() {
    std::vector<plat::PortWrite> writes;
    for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes())
        if (w.address == plat::ParallelPort::kDataRegister) writes.push_back(w);
    return writes;
}

::testing::AssertionResult portTimelineMatches(std::span<const ExpectedPortWrite> expected, std::size_t from,
                                               std::uint32_t startMs, std::uint32_t readoutAllowanceMs) {
    const std::vector<plat::PortWrite> all = cameraPortWrites();
    std::vector<plat::PortWrite> actual;
    if (from < all.size()) actual.assign(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());

    // Walk both lists; an optional entry that does not match is skipped.
    struct Row {
        std::string expected, actual;
        bool bad = false;
    };
    std::vector<Row> rows;
    bool ok = true;
    plat::Micros anchor = plat::Micros{startMs} * kMicrosPerMs;
    std::size_t a = 0;
    for (const ExpectedPortWrite &e : expected) {
        const plat::Micros earliest = anchor + plat::Micros{e.afterMs} * kMicrosPerMs;
        const plat::Micros latest =
            earliest + ((e.flags & kPortAfterReadout) ? plat::Micros{readoutAllowanceMs} * kMicrosPerMs : 0);
        const bool present = a < actual.size() && actual[a].value == e.value;
        if (!present && (e.flags & kPortOptional)) continue;
        Row row{describeExpected(e), a < actual.size() ? describeActual(actual[a], anchor) : "(none)"};
        if (!present || actual[a].time < earliest || actual[a].time > latest) {
            row.bad = true;
            ok = false;
        }
        rows.push_back(row);
        if (a < actual.size()) {
            if (!(e.flags & kPortOptional)) anchor = actual[a].time;
            ++a;
        }
    }
    for (; a < actual.size(); ++a) {
        rows.push_back(Row{"(nothing more)", describeActual(actual[a], anchor), true});
        ok = false;
    }
    if (ok) return ::testing::AssertionSuccess();

    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    failure << "camera port timeline (readout allowance " << readoutAllowanceMs << " ms):\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        char line[160];
        std::snprintf(line, sizeof line, "%c%3zu  %-36s | %s\n", rows[i].bad ? '*' : ' ', i, rows[i].expected.c_str(),
                      rows[i].actual.c_str());
        failure << line;
    }
    return failure;
}

std::string carriedLevels(std::span<const plat::PortWrite> writes, std::size_t from) {
    std::string text;
    for (std::size_t i = from; i < writes.size(); ++i) {
        if (writes[i].address != plat::ParallelPort::kDataRegister) continue;
        char level[8];
        std::snprintf(level, sizeof level, "%s%02X%s", text.empty() ? "" : " ", writes[i].value,
                      writes[i].carried ? "" : "!");
        text += level;
    }
    return text;
}

}  // namespace noctil::test
