// Which of a device's formats to capture in when nothing saved says so, or
// the saved one is no longer offered: the nearest one it can hand over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "avicap/v4l2/v4l2_device.h"

namespace plat::avicap::v4l2 {

// Indexes of `formats` in the order they are to be tried:
// 1. the device's current format, if it is among them;
// 2. the full frame of the standard's `lines` (576: 720 then 768 wide;
//    480: 720 then 640 wide);
// 3. every other format, the largest first.
// Within a size, packed YUV comes first, then grey, then RGB, then the
// formats that are converted (planar YUV, then Motion-JPEG). `lines` is 0
// on an input without a TV standard. Never the smallest entry first.
std::vector<std::size_t> formatPreference(const std::vector<FrameFormat> &formats,
                                          const std::optional<FrameFormat> &current, std::uint32_t lines);

}  // namespace plat::avicap::v4l2
