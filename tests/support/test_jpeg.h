// Motion-JPEG frames for the tests, made with libjpeg from a test picture,
// and libjpeg's own decoding of a frame, the reference the decoder is held to.
#pragma once

#include <cstdint>
#include <vector>

namespace noctil::test {

// A JPEG image of the test picture: 3 components in colour, 1 in grey.
std::vector<std::uint8_t> encodeTestJpeg(std::uint32_t width, std::uint32_t height, int components = 3);

// libjpeg's decoding of `jpeg` to RGB, turned into B,G,R rows without padding.
std::vector<std::uint8_t> referenceBgr(const std::vector<std::uint8_t> &jpeg);

}  // namespace noctil::test
