// How a device's buffers become the frames the capture window hands over:
// rows interleaved top-down whatever the device's field layout (the top
// field in the even rows), alternating fields paired into one frame, planar
// YUV repacked as YUY2 and Motion-JPEG decoded to 24-bit BGR on the way.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "avicap/v4l2/v4l2_format.h"
#include "frameconv/planar_yuv.h"

namespace plat::frameconv {
class JpegDecoder;
}

namespace plat::avicap::v4l2 {

class FrameAssembly {
public:
    FrameAssembly();
    ~FrameAssembly();

    // Set up for buffers of `pix`, the format the device took: 0, or the
    // errno of why its frames cannot be handed over, with `error` saying so.
    int prepare(const v4l2_pix_format &pix, std::string &error);

    // The frame handed over (a frame of alternating fields is twice a
    // buffer's height) and its bytes.
    const FrameFormat &format() const { return format_; }
    std::uint32_t field() const { return field_; }
    std::size_t frameBytes() const { return static_cast<std::size_t>(outStride_ * format_.height); }

    // Copies one finished buffer (`field`: which one, when fields
    // alternate) into `out`; true once `out` holds a whole frame.
    bool add(std::span<const std::uint8_t> buffer, std::uint32_t field, std::span<std::uint8_t> out);
    // Starts the next frame afresh: a field kept from before is dropped, so
    // no frame pairs fields from either side of a gap.
    void restart() { fieldsSeen_ = 0; }

    // Frames that arrived whole but could not be converted (a damaged
    // Motion-JPEG frame) since prepare(), and why the last one failed.
    unsigned undecodedFrames() const { return undecodedFrames_; }
    const std::string &undecodedReason() const { return undecodedReason_; }

private:
    bool copy(std::span<const std::uint8_t> buffer, std::uint32_t field, std::span<std::uint8_t> out);
    bool convert(std::span<const std::uint8_t> buffer, std::uint32_t field, std::span<std::uint8_t> out);
    // Notes a field of alternating fields; true once both are there.
    bool pairs(bool bottom);

    FrameFormat format_;
    std::uint32_t field_ = V4L2_FIELD_NONE;
    std::uint32_t bytesPerLine_ = 0;
    std::uint32_t bufferRows_ = 0;  // rows in one buffer (a field's when fields alternate)
    std::uint64_t outStride_ = 0;   // bytes per row of the frame handed over
    enum class Conversion { None, Planar, Jpeg } conversion_ = Conversion::None;
    frameconv::PlanarFrame planar_;                 // one buffer's picture, for Planar
    std::unique_ptr<frameconv::JpegDecoder> jpeg_;  // for Jpeg, made once
    unsigned undecodedFrames_ = 0;
    std::string undecodedReason_;
    unsigned fieldsSeen_ = 0;  // of the frame being assembled from alternating fields
};

}  // namespace plat::avicap::v4l2
