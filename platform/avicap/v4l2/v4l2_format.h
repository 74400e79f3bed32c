// A device's frame formats in the capture window's terms: which pixel
// formats can be handed over, and the BITMAPINFOHEADER a frame of each is
// handed over as.
#pragma once

#include <linux/videodev2.h>
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "frameconv/planar_yuv.h"

namespace plat::avicap::v4l2 {

// A pixel format at a frame size; `height` counts the rows of a whole frame.
struct FrameFormat {
    std::uint32_t pixelFormat = 0;
    std::uint32_t width = 0, height = 0;
    bool operator==(const FrameFormat &) const = default;
};

// The bytes of one frame of `f` as the capture window receives it: rows
// packed as the BITMAPINFOHEADER of the format says. Packed YUV, grey and
// BGR are handed over as the device delivers them; planar YUV is repacked
// as YUY2 and Motion-JPEG decoded to 24-bit BGR (frameconv/).
BITMAPINFOHEADER bitmapHeader(const FrameFormat &f);
// The pixel formats the driver can hand over, as V4L2 names them.
bool decodable(std::uint32_t pixelFormat);
// The layout of a planar YUV format, none for any other.
std::optional<frameconv::PlanarLayout> planarLayout(std::uint32_t pixelFormat);
bool motionJpeg(std::uint32_t pixelFormat);
std::string fourccText(std::uint32_t pixelFormat);
// "YU12 640x480, as YUY2" for dialogs: the device's format and, when it is
// converted, what it is handed over as.
std::string describeDeviceFormat(const FrameFormat &f);

// Lines of the standards in `id`: 480 for 525-line standards, 576 for
// 625-line ones, 0 for none or a mixture of both.
std::uint32_t linesOf(v4l2_std_id id);

}  // namespace plat::avicap::v4l2
