#include "ser_file.h"

#include <algorithm>
#include <cstring>

#include "times.h"

namespace noctil::convert {

namespace {

constexpr std::uint32_t kColourMono = 0, kColourRgb = 100;

void put32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

void put64(std::vector<std::uint8_t> &out, std::int64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(std::uint8_t(std::uint64_t(v) >> (8 * i)));
}

void putText(std::vector<std::uint8_t> &out, const std::string &text, std::size_t size) {
    const std::size_t n = std::min(text.size(), size);
    out.insert(out.end(), text.begin(), text.begin() + std::ptrdiff_t(n));
    out.insert(out.end(), size - n, 0);
}

}  // namespace

std::vector<std::uint8_t> serHeaderBytes(const SerHeader &h) {
    std::vector<std::uint8_t> out;
    out.reserve(kSerHeaderBytes);
    putText(out, "LUCAM-RECORDER", 14);
    put32(out, 0);  // LuID
    put32(out, h.colour ? kColourRgb : kColourMono);
    put32(out, 0);  // byte order: only 8-bit samples are written, so it does not matter
    put32(out, h.width);
    put32(out, h.height);
    put32(out, 8);  // bits per sample
    put32(out, h.frames);
    putText(out, "", 40);  // observer
    putText(out, h.instrument, 40);
    putText(out, "", 40);  // telescope
    // Start of the recording, local time and UTC; only UTC is known, so both.
    const std::int64_t start = h.startUtc ? serTicks(*h.startUtc) : 0;
    put64(out, start);
    put64(out, start);
    return out;
}

std::vector<std::uint8_t> serFrameBytes(const Picture &p, bool colour) {
    const std::size_t w = p.width, h = p.height;
    std::vector<std::uint8_t> out(w * h * (colour ? 3 : 1));
    std::uint8_t *to = out.data();
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t *from = p.rgb.data() + (h - 1 - row) * w * 3;  // top row first
        if (colour) {
            std::memcpy(to, from, w * 3);
            to += w * 3;
        } else {
            for (std::size_t x = 0; x < w; ++x) *to++ = from[3 * x];
        }
    }
    return out;
}

std::vector<std::uint8_t> serTrailerBytes(std::span<const std::int64_t> utcMicros) {
    std::vector<std::uint8_t> out;
    out.reserve(utcMicros.size() * 8);
    for (const std::int64_t t : utcMicros) put64(out, serTicks(t));
    return out;
}

}  // namespace noctil::convert
