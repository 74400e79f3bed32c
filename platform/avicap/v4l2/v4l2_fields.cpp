#include "avicap/v4l2/v4l2_fields.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "avicap/driver.h"
#include "frameconv/jpeg_frames.h"

namespace plat::avicap::v4l2 {

FrameAssembly::FrameAssembly() = default;
FrameAssembly::~FrameAssembly() = default;

int FrameAssembly::prepare(const v4l2_pix_format &pix, std::string &error) {
    if (!decodable(pix.pixelformat) || pix.width == 0 || pix.height == 0) {
        error = "VIDIOC_S_FMT: the device chose " + fourccText(pix.pixelformat) + ", a format that cannot be decoded";
        return EINVAL;
    }
    field_ = pix.field;
    bufferRows_ = pix.height;
    format_ = {pix.pixelformat, pix.width, field_ == V4L2_FIELD_ALTERNATE ? 2 * pix.height : pix.height};
    const BITMAPINFOHEADER header = bitmapHeader(format_);
    outStride_ = header.biSizeImage / format_.height;
    bytesPerLine_ = pix.bytesperline ? pix.bytesperline : static_cast<std::uint32_t>(outStride_);
    if (header.biSizeImage > kLargestFrameBytes) {
        error = "frames of " + describeFormat(header) + " are larger than the " + std::to_string(kLargestFrameBytes) +
                " bytes a frame may have";
        return EFBIG;
    }
    conversion_ = Conversion::None;
    undecodedFrames_ = 0;
    undecodedReason_.clear();
    fieldsSeen_ = 0;
    if (const auto layout = planarLayout(pix.pixelformat)) {
        conversion_ = Conversion::Planar;
        planar_ = {*layout, pix.width, bufferRows_, pix.bytesperline ? pix.bytesperline : pix.width};
    } else if (motionJpeg(pix.pixelformat)) {
        conversion_ = Conversion::Jpeg;
        if (!jpeg_) jpeg_ = std::make_unique<frameconv::JpegDecoder>();
        jpeg_->prepare(pix.width, bufferRows_);
    }
    const bool sequential = field_ == V4L2_FIELD_SEQ_TB || field_ == V4L2_FIELD_SEQ_BT;
    if (conversion_ != Conversion::None && sequential) {
        error = "VIDIOC_S_FMT: " + fourccText(pix.pixelformat) + " with one field after the other cannot be decoded";
        return EINVAL;
    }
    return 0;
}

bool FrameAssembly::add(std::span<const std::uint8_t> buffer, std::uint32_t field, std::span<std::uint8_t> out) {
    if (out.size() < frameBytes()) return false;
    if (conversion_ != Conversion::None) return convert(buffer, field, out);
    return copy(buffer, field, out);
}

bool FrameAssembly::pairs(bool bottom) {
    fieldsSeen_ |= bottom ? 2u : 1u;
    if (fieldsSeen_ != 3) return false;
    fieldsSeen_ = 0;
    return true;
}

// Rows go to the frame interleaved whatever the device's field layout:
// frame row 0 is the top field's first line, so the top field fills the
// even rows and the bottom field the odd rows.
bool FrameAssembly::copy(std::span<const std::uint8_t> buffer, std::uint32_t field, std::span<std::uint8_t> out) {
    if (buffer.size() < std::uint64_t(bytesPerLine_) * bufferRows_) return false;
    const std::uint8_t *src = buffer.data();
    const std::size_t rowBytes = static_cast<std::size_t>(std::min<std::uint64_t>(outStride_, bytesPerLine_));
    const auto copyRows = [&](const std::uint8_t *from, std::uint32_t rows, std::uint32_t firstRow,
                              std::uint32_t step) {
        for (std::uint32_t r = 0; r < rows; ++r) {
            std::uint8_t *to = out.data() + (firstRow + std::uint64_t(r) * step) * outStride_;
            std::memcpy(to, from + std::uint64_t(r) * bytesPerLine_, rowBytes);
            std::memset(to + rowBytes, 0, static_cast<std::size_t>(outStride_ - rowBytes));
        }
    };
    const std::uint32_t half = bufferRows_ / 2;
    switch (field_) {
    case V4L2_FIELD_SEQ_TB:
        copyRows(src, half, 0, 2);
        copyRows(src + std::uint64_t(half) * bytesPerLine_, half, 1, 2);
        return true;
    case V4L2_FIELD_SEQ_BT:
        copyRows(src, half, 1, 2);
        copyRows(src + std::uint64_t(half) * bytesPerLine_, half, 0, 2);
        return true;
    case V4L2_FIELD_ALTERNATE: {
        const bool bottom = field == V4L2_FIELD_BOTTOM;
        copyRows(src, bufferRows_, bottom ? 1 : 0, 2);
        return pairs(bottom);
    }
    default: copyRows(src, bufferRows_, 0, 1); return true;
    }
}

// A converted buffer: planar YUV repacked, Motion-JPEG decoded. A field of
// alternating fields goes to every other row, as a packed one does.
bool FrameAssembly::convert(std::span<const std::uint8_t> buffer, std::uint32_t field, std::span<std::uint8_t> out) {
    const bool alternate = field_ == V4L2_FIELD_ALTERNATE;
    const bool bottom = alternate && field == V4L2_FIELD_BOTTOM;
    const std::uint32_t firstRow = bottom ? 1 : 0, step = alternate ? 2 : 1;
    bool ok;
    if (conversion_ == Conversion::Planar) {
        ok = frameconv::planarToYuy2(planar_, buffer, out, outStride_, firstRow, step);
        if (!ok) undecodedReason_ = "a planar frame of " + std::to_string(buffer.size()) + " bytes is too short";
    } else {
        ok = jpeg_->decodeToBgr24(buffer, out.subspan(static_cast<std::size_t>(firstRow * outStride_)),
                                  outStride_ * step);
        if (!ok) undecodedReason_ = jpeg_->error();
    }
    if (!ok) {
        ++undecodedFrames_;
        fieldsSeen_ = 0;
        return false;
    }
    return !alternate || pairs(bottom);
}

}  // namespace plat::avicap::v4l2
