// A file's whole content as bytes in a string, and a file written whole
// (its directory made first): what tests put on the platform's root and
// read back from it.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace noctil::test {

// Empty when the file cannot be read.
std::string readAll(const std::filesystem::path &file);
void writeAll(const std::filesystem::path &file, std::string_view text);

}  // namespace noctil::test
