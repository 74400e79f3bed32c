// The format of the images a readout makes: 24-bit bottom-up rows of the
// capture size, each padded to four bytes, as the output file stores them.
#pragma once

#include <cstdint>

namespace noctil::camera {

struct OutputFormat {
    std::int32_t width;
    std::int32_t height;
    std::uint16_t bitCount;   // 24
    std::uint32_t rowBytes;   // a row's bytes with its padding
    std::uint32_t imageBytes; // rowBytes x height
};

OutputFormat outputFormat(std::int32_t width, std::int32_t height);

}  // namespace noctil::camera
