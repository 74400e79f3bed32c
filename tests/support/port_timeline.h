// Expected camera-port timelines as constant tables, compared with what the
// platform's parallel port logged. Each expected write gives its time since
// the last required write before it (or since the start of the comparison),
// so one table describes a run whatever absolute times it happens at. On a
// mismatch the expected and actual writes are printed side by side, numbered.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/clock.h"
#include "port/parallel_port.h"

namespace noctil::test {

// Flags of an expected write.
enum : unsigned {
    // The write may be absent (the readout levels, which only a connected
    // camera's frames bring about); it never becomes the anchor of later times.
    kPortOptional = 1,
    // The time may be later by up to the readout allowance that the
    // comparison is given (how long a readout stream may take on the camera
    // in use; 0 without a camera, which makes the time exact).
    kPortAfterReadout = 2,
    // Both: a readout level.
    kPortReadoutLevel = kPortOptional | kPortAfterReadout,
};

struct ExpectedPortWrite {
    std::uint8_t value;
    std::uint32_t afterMs;  // since the anchor: the previous required write
    unsigned flags = 0;
};

// The program's writes to the camera port so far, in order.
std::vector<plat::PortWrite> cameraPortWrites();

// The data-register writes of `writes` from index `from` on, as "0B 09 00",
// each that the backend did not carry marked "!" ("0B 09! 00!").
std::string carriedLevels(std::span<const plat::PortWrite> writes, std::size_t from = 0);

// Compares the port writes from index `from` on with `expected`. The first
// expected write is anchored at `startMs`. Every actual write must be matched;
// times must be exact to the microsecond except for the readout allowance.
::testing::AssertionResult portTimelineMatches(std::span<const ExpectedPortWrite> expected, std::size_t from,
                                               std::uint32_t startMs, std::uint32_t readoutAllowanceMs);

}  // namespace noctil::test
