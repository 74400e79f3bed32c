// The converter's command line.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace noctil::convert {

enum class OutputKind { Fits, Ser, Stack };

struct Options {
    std::filesystem::path input;  // the output AVI file of a run
    OutputKind kind = OutputKind::Fits;
    std::optional<std::filesystem::path> log;              // given; else the log beside the input, where present
    bool useLog = true;                                    // false: --no-log
    std::optional<std::filesystem::path> outputDirectory;  // else the input's directory
    bool force = false;                                    // replace files that exist
    std::optional<std::filesystem::path> darks, flats;     // --stack: the masters' library folders
    bool help = false;
    bool version = false;  // --version: print the version, convert nothing
};

// Reads the arguments after the program name; nullopt with `error` set when
// they are not a valid command line.
std::optional<Options> parseOptions(const std::vector<std::string> &args, std::string &error);

// The usage text shown by --help and after a wrong command line.
const char *usageText();

}  // namespace noctil::convert
