// SER files: a 178-byte header, the frames top row first, and optionally a
// trailer with one time per frame.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "avi_source.h"

namespace noctil::convert {

struct SerHeader {
    bool colour = false;  // RGB triplets; else one grey byte per pixel
    std::uint32_t width = 0, height = 0, frames = 0;
    std::string instrument;                // up to 40 characters
    std::optional<std::int64_t> startUtc;  // UTC microseconds of the first image
};

inline constexpr std::size_t kSerHeaderBytes = 178;

std::vector<std::uint8_t> serHeaderBytes(const SerHeader &header);
// One frame's bytes: rows from the top down, grey bytes or R,G,B.
std::vector<std::uint8_t> serFrameBytes(const Picture &picture, bool colour);
// The trailer: each frame's time, UTC microseconds, as SER ticks.
std::vector<std::uint8_t> serTrailerBytes(std::span<const std::int64_t> utcMicros);

}  // namespace noctil::convert
