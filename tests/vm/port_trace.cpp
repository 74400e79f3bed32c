#include "port_trace.h"

#include <camport.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace noctil::vmtrace {

namespace {

// A timer never fires early; the clocks of guest and host may differ by this.
constexpr double kEarlyMs = 2;
constexpr std::uint8_t kIdle = PORT_IDLE, kExpose = PORT_EXPOSE, kExposeAmpOff = PORT_EXPOSE_AMPOFF,
                       kReadout = PORT_READOUT, kReadout480 = PORT_READOUT_480;

bool parseHex(std::string_view text, unsigned &out) {
    if (text.substr(0, 2) != "0x") return false;
    text.remove_prefix(2);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, 16);
    return ec == std::errc{} && end == text.data() + text.size();
}

// "PID@S.U:event rest" -> time and the text after the event name.
std::optional<std::int64_t> parseTime(std::string_view line, std::string_view event, std::string_view &rest) {
    const auto at = line.find('@');
    const auto colon = line.find(':', at == std::string_view::npos ? 0 : at);
    if (at == std::string_view::npos || colon == std::string_view::npos) return std::nullopt;
    if (line.substr(colon + 1, event.size()) != event) return std::nullopt;
    const std::string_view stamp = line.substr(at + 1, colon - at - 1);
    const auto dot = stamp.find('.');
    if (dot == std::string_view::npos || stamp.size() - dot - 1 != 6) return std::nullopt;
    std::int64_t seconds = 0, micros = 0;
    if (std::from_chars(stamp.data(), stamp.data() + dot, seconds).ptr != stamp.data() + dot) return std::nullopt;
    if (std::from_chars(stamp.data() + dot + 1, stamp.data() + stamp.size(), micros).ptr != stamp.data() + stamp.size())
        return std::nullopt;
    rest = line.substr(colon + 1 + event.size());
    return seconds * 1000000 + micros;
}

// " ... addr 0xAA val 0xVV" at the end of a trace line.
bool parseAddrVal(std::string_view rest, unsigned &addr, unsigned &val) {
    const auto a = rest.find(" addr ");
    const auto v = rest.find(" val ");
    if (a == std::string_view::npos || v == std::string_view::npos || v < a) return false;
    std::string_view valText = rest.substr(v + 5);
    while (!valText.empty() && (valText.back() == '\n' || valText.back() == '\r')) valText.remove_suffix(1);
    return parseHex(rest.substr(a + 6, v - a - 6), addr) && parseHex(valText, val) && val <= 0xFF;
}

std::string hex(std::uint8_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

}  // namespace

std::optional<LineWrite> parseParallelLine(std::string_view line) {
    std::string_view rest;
    const auto time = parseTime(line, "parallel_ioport_write", rest);
    unsigned addr = 0, val = 0;
    if (!time || !parseAddrVal(rest, addr, val) || addr != 0) return std::nullopt;
    return LineWrite{*time, static_cast<std::uint8_t>(val)};
}

std::optional<LineWrite> parseSerialLine(std::string_view line, const SerialMapping &mapping) {
    std::string_view rest;
    const auto time = parseTime(line, "serial_write", rest);
    unsigned addr = 0, val = 0;
    if (!time || !parseAddrVal(rest, addr, val) || addr != 4) return std::nullopt;
    const bool dtr = ((val & 1) != 0) != mapping.dtrInverted;
    const bool rts = ((val & 2) != 0) != mapping.rtsInverted;
    const auto bits = static_cast<std::uint8_t>((dtr ? 1u << mapping.dtrBit : 0u) | (rts ? 1u << mapping.rtsBit : 0u));
    return LineWrite{*time, bits};
}

std::uint8_t serialView(std::uint8_t value, const SerialMapping &mapping) {
    return static_cast<std::uint8_t>(value & mapping.mask());
}

std::vector<LineWrite> levelChanges(const std::vector<LineWrite> &writes) {
    std::vector<LineWrite> out;
    for (const LineWrite &w : writes)
        if (out.empty() || out.back().value != w.value) out.push_back(w);
    return out;
}

std::vector<Exposure> exposures(const std::vector<LineWrite> &changes, std::uint8_t expose, std::uint8_t exposeAmpOff,
                                std::uint8_t rest) {
    std::vector<Exposure> out;
    Exposure *open = nullptr;
    bool inExposure = false;
    for (const LineWrite &w : changes) {
        const bool exposing = w.value == expose || w.value == exposeAmpOff;
        if (exposing && !inExposure) {
            out.push_back(Exposure{w.timeUs, w.timeUs, w.timeUs, {}});
            open = &out.back();
        }
        if (open) {
            if (w.value == expose && !open->levels.empty() && open->levels.back() == exposeAmpOff)
                open->ampOnUs = w.timeUs;
            if (!exposing && inExposure) open->endUs = w.timeUs;
            open->levels.push_back(w.value);
            if (w.value == rest) open = nullptr;
        }
        inExposure = exposing;
    }
    return out;
}

bool endedAfterFirstPass(const Exposure &e, std::uint8_t readout480) {
    return e.levels.size() >= 2 && e.levels[e.levels.size() - 2] == readout480;
}

std::vector<std::string> checkExposure(const Exposure &e, const ExpectedExposure &expected,
                                       const SerialMapping &mapping, double timerSlackMs, double readoutSlackMs) {
    const bool ampOffPhase = expected.ampOff && expected.exposureMs > 2000;
    std::vector<std::uint8_t> want;
    if (ampOffPhase) want.push_back(kExposeAmpOff);
    want.push_back(kExpose);
    std::vector<std::string> problems;
    auto view = [&](std::uint8_t v) { return expected.serial ? serialView(v, mapping) : v; };
    // The readout levels are either 0x09 then 0x08 (480-line video) or 0x08.
    std::vector<std::vector<std::uint8_t>> allowed;
    std::vector<std::vector<std::uint8_t>> readouts = {{kReadout480, kReadout}, {kReadout}};
    if (expected.firstPassMayEnd) readouts.push_back({kReadout480});
    for (const auto &readout : readouts) {
        std::vector<std::uint8_t> seq = want;
        seq.insert(seq.end(), readout.begin(), readout.end());
        seq.push_back(kIdle);
        std::vector<std::uint8_t> seen;
        for (std::uint8_t v : seq)
            if (seen.empty() || seen.back() != view(v)) seen.push_back(view(v));
        allowed.push_back(seen);
    }
    if (std::find(allowed.begin(), allowed.end(), e.levels) == allowed.end()) {
        std::string text = "levels";
        // One piece at a time: GCC 12 at -O3 takes " " + hex(v) for an
        // overlapping copy (-Wrestrict).
        for (std::uint8_t v : e.levels) (text += ' ') += hex(v);
        text += ", expected";
        for (std::uint8_t v : allowed.front()) (text += ' ') += hex(v);
        problems.push_back(text);
    }
    const double totalMs = static_cast<double>(e.endUs - e.startUs) / 1000.0;
    if (totalMs < expected.exposureMs - kEarlyMs || totalMs > expected.exposureMs + readoutSlackMs) {
        char text[160];
        std::snprintf(text, sizeof text, "exposure %.3f ms, set %d ms (allowed -%.0f/+%.1f ms)", totalMs,
                      expected.exposureMs, kEarlyMs, readoutSlackMs);
        problems.push_back(text);
    }
    if (ampOffPhase) {
        const double ampOffMs = static_cast<double>(e.ampOnUs - e.startUs) / 1000.0;
        const double wantMs = expected.exposureMs - 1000;
        if (ampOffMs < wantMs - kEarlyMs || ampOffMs > wantMs + timerSlackMs) {
            char text[160];
            std::snprintf(text, sizeof text, "amplifier off for %.3f ms, set %.0f ms", ampOffMs, wantMs);
            problems.push_back(text);
        }
    }
    return problems;
}

Percentiles percentiles(std::vector<double> values) {
    if (values.empty()) return {0, 0, 0};
    std::sort(values.begin(), values.end());
    auto rank = [&](double p) {
        const auto k = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
        return values[std::clamp<std::size_t>(k, 1, values.size()) - 1];
    };
    return {rank(0.50), rank(0.99), values.back()};
}

}  // namespace noctil::vmtrace
