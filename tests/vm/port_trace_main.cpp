// Checks and measures the camera lines in QEMU's trace of the virtual
// machine, from a byte offset on (where a case began):
//
//   vm_port_trace TRACE --from BYTES --exposure MS [--ampoff] [--images N]
//       [--without-image K] [--serial DTRBIT RTSBIT DTRINV RTSINV]
//       [--timer-slack MS] [--readout-slack MS] [--levels HEX,HEX,...]
//       [--rest-first] [--quiet]
//
// Prints every exposure and the p50/p99/max of its error (how much longer the
// lines held the exposure level than set). Exits 1 when the lines did not
// start and end at rest, an exposure is wrong, or the count differs from N
// (N + K with --without-image: the program counted K readouts that gave no
// image; up to K of them may end after the first field pass, 0x09 then rest).
// --rest-first: the first write in the trace from BYTES on is the rest level
// (a port that came back is put to rest before anything else); without it,
// the writes before the first rest level are passed over, as a program's
// start leaves them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "port_trace.h"

using namespace noctil::vmtrace;

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: vm_port_trace TRACE --from BYTES --exposure MS [--ampoff] [--images N] [--without-image K]\n"
                 "       [--serial DTRBIT RTSBIT DTRINV RTSINV] [--timer-slack MS] [--readout-slack MS]\n"
                 "       [--levels HEX,HEX,...] [--rest-first] [--quiet]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return usage();
    const char *tracePath = argv[1];
    long long from = 0;
    int exposureMs = -1, images = -1, withoutImage = 0;
    bool ampOff = false, serial = false, quiet = false, restFirst = false;
    // The emulator on a busy machine is late by hundreds of milliseconds now
    // and then; an exposure is never short, and bounded late.
    double timerSlackMs = 500, readoutSlackMs = 3000;
    SerialMapping mapping;
    std::vector<std::uint8_t> levels;  // each exposure's, when given
    for (int i = 2; i < argc; ++i) {
        auto next = [&](int n = 1) { return i + n < argc; };
        if (!std::strcmp(argv[i], "--from") && next())
            from = std::atoll(argv[++i]);
        else if (!std::strcmp(argv[i], "--exposure") && next())
            exposureMs = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--images") && next())
            images = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--without-image") && next())
            withoutImage = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--ampoff"))
            ampOff = true;
        else if (!std::strcmp(argv[i], "--quiet"))
            quiet = true;
        else if (!std::strcmp(argv[i], "--rest-first"))
            restFirst = true;
        else if (!std::strcmp(argv[i], "--levels") && next()) {
            // Every exposure's levels, in order: "0B,09,08,00" for field mode.
            const std::string list = argv[++i];
            for (std::size_t at = 0; at < list.size();) {
                std::size_t comma = list.find(',', at);
                if (comma == std::string::npos) comma = list.size();
                levels.push_back(static_cast<std::uint8_t>(std::stoul(list.substr(at, comma - at), nullptr, 16)));
                at = comma + 1;
            }
        } else if (!std::strcmp(argv[i], "--timer-slack") && next())
            timerSlackMs = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--readout-slack") && next())
            readoutSlackMs = std::atof(argv[++i]);
        else if (!std::strcmp(argv[i], "--serial") && next(4)) {
            serial = true;
            mapping.dtrBit = std::atoi(argv[++i]);
            mapping.rtsBit = std::atoi(argv[++i]);
            mapping.dtrInverted = std::atoi(argv[++i]) != 0;
            mapping.rtsInverted = std::atoi(argv[++i]) != 0;
        } else
            return usage();
    }
    if (exposureMs < 0) return usage();

    std::ifstream in(tracePath);
    if (!in) {
        std::fprintf(stderr, "vm_port_trace: cannot read %s\n", tracePath);
        return 2;
    }
    in.seekg(from);
    std::vector<LineWrite> writes;
    for (std::string line; std::getline(in, line);) {
        const auto w = serial ? parseSerialLine(line, mapping) : parseParallelLine(line);
        if (w) writes.push_back(*w);
    }
    auto view = [&](std::uint8_t v) { return serial ? serialView(v, mapping) : v; };
    const std::uint8_t rest = view(0x00);
    // The program's writes begin with the rest level at its start; before
    // that the lines show whatever the port held (a closed serial port's
    // lines are low, which inverted wiring reads as integrating).
    std::size_t first = 0;
    while (first < writes.size() && writes[first].value != rest) ++first;
    int failures = 0;
    if (restFirst && first != 0) {
        std::printf("FAIL: the first write was 0x%02X, not the rest level\n", writes.empty() ? 0 : writes[0].value);
        ++failures;
    }
    writes.erase(writes.begin(), writes.begin() + static_cast<std::ptrdiff_t>(first));
    const std::vector<LineWrite> changes = levelChanges(writes);

    if (changes.empty()) {
        std::printf("FAIL: the camera lines never went to rest in the trace\n");
        return 1;
    }
    if (writes.back().value != rest) {
        std::printf("FAIL: the lines were left at 0x%02X, not at rest\n", writes.back().value);
        ++failures;
    }
    const std::vector<Exposure> found = exposures(changes, view(0x0B), view(0x0F), rest);
    std::vector<double> errors;
    int n = 0, firstPassOnly = 0;
    for (const Exposure &e : found) {
        ++n;
        const bool shortReadout = withoutImage > 0 && endedAfterFirstPass(e, view(0x09));
        if (shortReadout) ++firstPassOnly;
        const double totalMs = static_cast<double>(e.endUs - e.startUs) / 1000.0;
        errors.push_back(totalMs - exposureMs);
        const auto problems = checkExposure(e, {exposureMs, ampOff, serial, withoutImage > 0}, mapping, timerSlackMs, readoutSlackMs);
        if (!quiet || !problems.empty()) {
            std::printf("exposure %d: %.3f ms (error %+.3f ms)", n, totalMs, totalMs - exposureMs);
            if (e.ampOnUs != e.startUs)
                std::printf(", amplifier off %.3f ms", static_cast<double>(e.ampOnUs - e.startUs) / 1000.0);
            std::printf(", levels");
            for (std::uint8_t v : e.levels) std::printf(" 0x%02X", v);
            std::printf("\n");
        }
        for (const std::string &p : problems) std::printf("FAIL: exposure %d: %s\n", n, p.c_str());
        if (!levels.empty() && e.levels != levels && !shortReadout) {
            std::printf("FAIL: exposure %d: levels", n);
            for (std::uint8_t v : e.levels) std::printf(" 0x%02X", v);
            std::printf(", expected");
            for (std::uint8_t v : levels) std::printf(" 0x%02X", v);
            std::printf("\n");
            ++failures;
        }
        failures += static_cast<int>(problems.size());
    }
    if (images >= 0 && n != images + withoutImage) {
        std::printf("FAIL: %d exposures, expected %d images and %d readouts without one\n", n, images, withoutImage);
        ++failures;
    }
    if (firstPassOnly > withoutImage) {
        std::printf("FAIL: %d readouts ended after the first field, more than the %d without an image\n",
                    firstPassOnly, withoutImage);
        ++failures;
    }
    if (withoutImage > 0) std::printf("%d readouts without an image, %d of them ended after the first field\n",
                                      withoutImage, firstPassOnly);
    const Percentiles p = percentiles(errors);
    std::printf("%s %d ms%s: %d exposures, error p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                serial ? "serial" : "parallel", exposureMs, ampOff ? " amplifier off" : "", n, p.p50, p.p99, p.max);
    return failures ? 1 : 0;
}
