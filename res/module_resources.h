// The program's compiled resource file, embedded by the resource target
// (noctil_resources) as a byte array; the program's session serves it.
#pragma once

#include <cstdint>
#include <span>

extern "C" const unsigned char module_resource_data[];
extern "C" const unsigned long module_resource_size;

inline std::span<const std::uint8_t> programResourceFile() { return {module_resource_data, module_resource_size}; }
