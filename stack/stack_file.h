// The stack as a FITS file: 32-bit float, linear, colour as three planes
// R, G, B, with what went into it and what was left out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fits.h"
#include "stacker.h"

namespace noctil::stack {

// `<name>.stack.fits` beside `output` (C:\M42_003.AVI: C:\M42_003.stack.fits).
std::filesystem::path stackPathFor(const std::filesystem::path &output);

// The header cards beyond the axes and checksums.
std::vector<fits::Card> stackCards(const Stacker &stacker, const StackView &view, std::int64_t writtenUtc);

// The whole file's bytes; `writtenUtc` goes into DATE.
std::vector<std::uint8_t> stackFileBytes(Stacker &stacker, std::int64_t writtenUtc);

}  // namespace noctil::stack
