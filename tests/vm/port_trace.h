// The camera lines as QEMU's trace saw them: the emulated parallel port's
// data register, or the 16550's modem-control register (DTR and RTS) mapped
// back onto the data bits that drive them. Exposures are cut from the level
// changes so that a case or a benchmark compares them with the settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace noctil::vmtrace {

struct LineWrite {
    std::int64_t timeUs;  // host time of the write
    std::uint8_t value;   // data-register value, or the mapped line bits
};

// Which data bit drives DTR and which RTS, and whether each is inverted.
struct SerialMapping {
    int dtrBit = 1;
    int rtsBit = 2;
    bool dtrInverted = false;
    bool rtsInverted = false;
    std::uint8_t mask() const { return static_cast<std::uint8_t>((1u << dtrBit) | (1u << rtsBit)); }
};

// One trace line, "PID@SECONDS.MICROS:parallel_ioport_write write [SW] addr
// 0x00 val 0x0b" or "...:serial_write write addr 0x04 val 0x0b". Data-register
// writes (parallel) or modem-control writes (serial) give a LineWrite; every
// other line gives nothing.
std::optional<LineWrite> parseParallelLine(std::string_view line);
std::optional<LineWrite> parseSerialLine(std::string_view line, const SerialMapping &mapping);

// A data value as the serial lines show it: only the two mapped bits.
std::uint8_t serialView(std::uint8_t value, const SerialMapping &mapping);

// Writes that repeat the level before them change nothing on the lines.
std::vector<LineWrite> levelChanges(const std::vector<LineWrite> &writes);

struct Exposure {
    std::int64_t startUs;
    std::int64_t ampOnUs;              // when the amplifier came on; startUs when it was on throughout
    std::int64_t endUs;                // when the lines left the exposure level
    std::vector<std::uint8_t> levels;  // from the exposure level to the next rest, in order
};

// The exposures in a run of level changes: each starts where an exposure
// level (`expose` or `exposeAmpOff`) follows another level and ends at the
// first level that is neither.
std::vector<Exposure> exposures(const std::vector<LineWrite> &changes, std::uint8_t expose, std::uint8_t exposeAmpOff,
                                std::uint8_t rest);

// What one exposure should have been.
struct ExpectedExposure {
    int exposureMs;
    bool ampOff;
    bool serial;
    // A field-mode readout may end after its first pass (0x09, then rest):
    // the program does so when no field won that pass, and writes no image.
    bool firstPassMayEnd = false;
};

// The exposure's readout ended after its first field pass: 0x09 (in the
// lines' view `readout480`), then rest.
bool endedAfterFirstPass(const Exposure &e, std::uint8_t readout480);

// The problems of an exposure against its settings, one line each (empty when
// it is right): the levels out of order; a phase shorter than set (beyond
// 2 ms of clock difference); an amplifier-off phase longer by more than
// `timerSlackMs`; an exposure longer by more than `readoutSlackMs` (the
// exposure level holds until the first frame of the readout arrives).
std::vector<std::string> checkExposure(const Exposure &e, const ExpectedExposure &expected,
                                       const SerialMapping &mapping, double timerSlackMs, double readoutSlackMs);

// p50, p99 and max of a sample, by the nearest-rank rule.
struct Percentiles {
    double p50, p99, max;
};
Percentiles percentiles(std::vector<double> values);

}  // namespace noctil::vmtrace
