#include "port_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace noctil::vmtrace {
namespace {

TEST(PortTraceLine, ReadsTheDataRegisterAndTheModemControlRegister) {
    struct Case {
        const char *line;
        bool serial;
        bool found;
        std::int64_t timeUs;
        std::uint8_t value;
    };
    const SerialMapping mapping;  // DTR from bit 1, RTS from bit 2
    const Case cases[] = {
        {"123@1796644148.981304:parallel_ioport_write write [SW] addr 0x00 val 0x0b", false, true, 1796644148981304,
         0x0B},
        {"123@1796644148.000001:parallel_ioport_write write [SW] addr 0x00 val 0xff\n", false, true, 1796644148000001,
         0xFF},
        // The control register is no camera line.
        {"123@1796644148.981304:parallel_ioport_write write [SW] addr 0x02 val 0x0c", false, false, 0, 0},
        {"123@1796644148.981304:parallel_ioport_read read [SW] addr 0x00 val 0x0b", false, false, 0, 0},
        {"123@1796644148.98130:parallel_ioport_write write [SW] addr 0x00 val 0x0b", false, false, 0, 0},
        {"parallel_ioport_write write [SW] addr 0x00 val 0x0b", false, false, 0, 0},
        {"123@1.000000:parallel_ioport_write write [SW] addr 0x00 val 0x100", false, false, 0, 0},
        // MCR: DTR is bit 0, RTS bit 1, OUT2 (bit 3) is no line.
        {"9@2.000010:serial_write write addr 0x04 val 0x0b", true, true, 2000010, 0x06},
        {"9@2.000010:serial_write write addr 0x04 val 0x09", true, true, 2000010, 0x02},
        {"9@2.000010:serial_write write addr 0x04 val 0x0a", true, true, 2000010, 0x04},
        {"9@2.000010:serial_write write addr 0x04 val 0x08", true, true, 2000010, 0x00},
        {"9@2.000010:serial_write write addr 0x00 val 0x41", true, false, 0, 0},
    };
    for (const Case &c : cases) {
        const auto w = c.serial ? parseSerialLine(c.line, mapping) : parseParallelLine(c.line);
        ASSERT_EQ(w.has_value(), c.found) << c.line;
        if (!w) continue;
        EXPECT_EQ(w->timeUs, c.timeUs) << c.line;
        EXPECT_EQ(w->value, c.value) << c.line;
    }
}

TEST(PortTraceLine, InvertedSerialLinesReadBack) {
    SerialMapping mapping{0, 3, true, false};
    const auto w = parseSerialLine("9@2.000000:serial_write write addr 0x04 val 0x02", mapping);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->value, 0x09);  // DTR low, inverted: bit 0 set; RTS high: bit 3 set
}

std::vector<LineWrite> timeline(std::initializer_list<std::pair<int, int>> msAndValue) {
    std::vector<LineWrite> out;
    for (auto [ms, v] : msAndValue) out.push_back({std::int64_t{ms} * 1000, static_cast<std::uint8_t>(v)});
    return out;
}

TEST(PortTraceExposures, CutAtTheExposureLevelsAndCheckedAgainstTheSettings) {
    struct Case {
        const char *what;
        std::vector<LineWrite> writes;
        ExpectedExposure expected;
        std::size_t exposures;
        std::size_t problems;  // of the first exposure
    };
    const Case cases[] = {
        {"plain, 480 lines",
         timeline({{0, 0}, {100, 0x0B}, {1130, 0x09}, {1160, 0x08}, {1200, 0}}),
         {1000, false, false},
         1,
         0},
        {"amplifier off",
         timeline({{0, 0}, {100, 0x0F}, {2100, 0x0B}, {3110, 0x08}, {3200, 0}}),
         {3000, true, false},
         1,
         0},
        {"amplifier off asked for but 2000 ms keeps it on",
         timeline({{0, 0}, {100, 0x0B}, {2110, 0x08}, {2200, 0}}),
         {2000, true, false},
         1,
         0},
        {"amplifier phase missing",
         timeline({{0, 0}, {100, 0x0B}, {3110, 0x08}, {3200, 0}}),
         {3000, true, false},
         1,
         2},  // the levels and the phase
        {"amplifier phase too long",
         timeline({{0, 0}, {100, 0x0F}, {2400, 0x0B}, {3110, 0x08}, {3200, 0}}),
         {3000, true, false},
         1,
         1},
        {"exposure too short", timeline({{0, 0}, {100, 0x0B}, {1000, 0x08}, {1100, 0}}), {1000, false, false}, 1, 1},
        {"exposure far too long", timeline({{0, 0}, {100, 0x0B}, {2200, 0x08}, {2300, 0}}), {1000, false, false}, 1, 1},
        {"readout skipped", timeline({{0, 0}, {100, 0x0B}, {1110, 0}}), {1000, false, false}, 1, 1},
        {"readout ended after its first field",
         timeline({{0, 0}, {100, 0x0B}, {1110, 0x09}, {1180, 0}}),
         {1000, false, false},
         1,
         1},
        {"readout ended after its first field, as one without an image may",
         timeline({{0, 0}, {100, 0x0B}, {1110, 0x09}, {1180, 0}}),
         {1000, false, false, true},
         1,
         0},
        {"readout skipped, where a first-field end is allowed",
         timeline({{0, 0}, {100, 0x0B}, {1110, 0}}),
         {1000, false, false, true},
         1,
         1},
        {"repeated writes are one level",
         timeline({{0, 0}, {100, 0x0B}, {500, 0x0B}, {1110, 0x08}, {1200, 0}}),
         {1000, false, false},
         1,
         0},
        {"two images",
         timeline({{0, 0}, {0, 0x0B}, {1010, 0x08}, {1100, 0}, {1100, 0x0B}, {2110, 0x08}, {2200, 0}}),
         {1000, false, false},
         2,
         0},
        {"no exposure", timeline({{0, 0}, {100, 0x08}, {200, 0}}), {1000, false, false}, 0, 0},
    };
    const SerialMapping mapping;
    for (const Case &c : cases) {
        const auto found = exposures(levelChanges(c.writes), 0x0B, 0x0F, 0x00);
        ASSERT_EQ(found.size(), c.exposures) << c.what;
        if (found.empty()) continue;
        EXPECT_EQ(checkExposure(found[0], c.expected, mapping, 100, 500).size(), c.problems) << c.what;
    }
}

TEST(PortTraceExposures, SerialLinesShowOnlyTheirBits) {
    const SerialMapping mapping;  // bit 1 (set while integrating) and bit 2 (amplifier off)
    std::vector<LineWrite> writes;
    for (auto [ms, v] : {std::pair{0, 0x00}, {100, 0x0F}, {2100, 0x0B}, {3120, 0x09}, {3150, 0x08}, {3200, 0x00}})
        writes.push_back({std::int64_t{ms} * 1000, serialView(static_cast<std::uint8_t>(v), mapping)});
    const auto found = exposures(levelChanges(writes), serialView(0x0B, mapping), serialView(0x0F, mapping), 0);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].endUs, 3120000);
    EXPECT_EQ(found[0].ampOnUs, 2100000);
    EXPECT_TRUE(checkExposure(found[0], {3000, true, true}, mapping, 100, 500).empty());
}

TEST(PortTracePercentiles, NearestRank) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) hundred.push_back(i);
    const Percentiles p = percentiles(hundred);
    EXPECT_EQ(p.p50, 50);
    EXPECT_EQ(p.p99, 99);
    EXPECT_EQ(p.max, 100);
    const Percentiles three = percentiles({3, 1, 2});
    EXPECT_EQ(three.p50, 2);
    EXPECT_EQ(three.p99, 3);
    EXPECT_EQ(percentiles({}).max, 0);
}

}  // namespace
}  // namespace noctil::vmtrace
