// One conversion from the command line's options to files, with everything
// the user should know said on `out` (what was written) and `err`
// (warnings and the error that stopped it).
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "options.h"

namespace noctil::convert {

// The files a conversion of `images` images of `input` writes into `dir`:
// NAME_0001.fits ... (more digits past 9999), NAME.ser or NAME.stack.fits.
std::vector<std::filesystem::path> outputFiles(const std::filesystem::path &input, const std::filesystem::path &dir,
                                               OutputKind kind, std::size_t images);

// Runs the conversion; returns the process's exit code: 0 when every file
// was written, 1 otherwise.
int convert(const Options &options, std::ostream &out, std::ostream &err);

}  // namespace noctil::convert
