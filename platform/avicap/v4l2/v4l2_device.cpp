#include "avicap/v4l2/v4l2_device.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "avifile/dib_decode.h"
#include "core/session.h"
#include "frameconv/jpeg_frames.h"
#include "frameconv/planar_yuv.h"

namespace plat::avicap::v4l2 {

namespace {

constexpr std::uint32_t kBufferCount = 4;
// Wake-ups of poll with no frame behind them before the device counts as broken.
constexpr int kEmptyWakesAllowed = 64;

// Sizes tried on a device that offers a range of sizes rather than a list.
constexpr std::pair<std::uint32_t, std::uint32_t> kCommonSizes[] = {{160, 120}, {320, 240}, {352, 240}, {352, 288},
                                                                    {640, 480}, {720, 480}, {720, 576}, {768, 576}};

std::string text(const __u8 *bytes, std::size_t size) {
    return std::string(reinterpret_cast<const char *>(bytes), strnlen(reinterpret_cast<const char *>(bytes), size));
}

DWORD fourcc(char a, char b, char c, char d) {
    return DWORD(std::uint8_t(a)) | DWORD(std::uint8_t(b)) << 8 | DWORD(std::uint8_t(c)) << 16 |
           DWORD(std::uint8_t(d)) << 24;
}

std::uint64_t frameBytesOf(const BITMAPINFOHEADER &h) { return h.biSizeImage; }

std::optional<frameconv::PlanarLayout> planarLayout(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUV420: return frameconv::PlanarLayout::Yu12;
    case V4L2_PIX_FMT_YVU420: return frameconv::PlanarLayout::Yv12;
    case V4L2_PIX_FMT_NV12: return frameconv::PlanarLayout::Nv12;
    case V4L2_PIX_FMT_NV21: return frameconv::PlanarLayout::Nv21;
    case V4L2_PIX_FMT_YUV422P: return frameconv::PlanarLayout::Yuv422p;
    default: return std::nullopt;
    }
}

bool motionJpeg(std::uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

}  // namespace

bool decodable(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
    case V4L2_PIX_FMT_UYVY:
    case V4L2_PIX_FMT_GREY:
    case V4L2_PIX_FMT_BGR24:
    case V4L2_PIX_FMT_XBGR32:
    case V4L2_PIX_FMT_ABGR32:
    case V4L2_PIX_FMT_BGR32: return true;
    default: return planarLayout(pixelFormat).has_value() || motionJpeg(pixelFormat);
    }
}

std::uint32_t linesOf(v4l2_std_id id) {
    const bool lines525 = id & V4L2_STD_525_60, lines625 = id & V4L2_STD_625_50;
    if (lines525 == lines625) return 0;
    return lines525 ? 480 : 576;
}

std::string describeDeviceFormat(const FrameFormat &f) {
    std::string text = fourccText(f.pixelFormat) + " " + std::to_string(f.width) + "x" + std::to_string(f.height);
    if (planarLayout(f.pixelFormat)) text += ", as YUY2";
    if (motionJpeg(f.pixelFormat)) text += ", as 24-bit RGB";
    return text;
}

std::string fourccText(std::uint32_t pixelFormat) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((pixelFormat >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

// YUV and grey keep their own codes; the BGR formats are the platform's
// BI_RGB rows, top-down as the device delivers them (a negative height).
BITMAPINFOHEADER bitmapHeader(const FrameFormat &f) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = static_cast<LONG>(f.width);
    h.biHeight = static_cast<LONG>(f.height);
    h.biPlanes = 1;
    switch (f.pixelFormat) {
    case V4L2_PIX_FMT_YUYV:
        h.biBitCount = 16;
        h.biCompression = fourcc('Y', 'U', 'Y', '2');
        break;
    case V4L2_PIX_FMT_UYVY:
        h.biBitCount = 16;
        h.biCompression = fourcc('U', 'Y', 'V', 'Y');
        break;
    case V4L2_PIX_FMT_GREY:
        h.biBitCount = 8;
        h.biCompression = fourcc('Y', '8', '0', '0');
        break;
    case V4L2_PIX_FMT_BGR24:
        h.biBitCount = 24;
        h.biCompression = BI_RGB;
        h.biHeight = -h.biHeight;
        break;
    default:
        if (planarLayout(f.pixelFormat)) {
            h.biBitCount = 16;
            h.biCompression = fourcc('Y', 'U', 'Y', '2');
        } else if (motionJpeg(f.pixelFormat)) {
            h.biBitCount = 24;
            h.biCompression = BI_RGB;
            h.biHeight = -h.biHeight;
        } else {
            h.biBitCount = 32;
            h.biCompression = BI_RGB;
            h.biHeight = -h.biHeight;
        }
        break;
    }
    avi::SourceLayout layout;
    if (avi::sourceLayout({reinterpret_cast<const std::uint8_t *>(&h), sizeof h}, layout))
        h.biSizeImage = static_cast<DWORD>(layout.frameBytes);
    return h;
}

Device::Device(std::shared_ptr<Io> io, std::string node) : io_(std::move(io)), node_(std::move(node)) {}

Device::~Device() {
    stop();
    uninit();
    close();
}

void Device::fail(const char *call, int code) {
    errorCode_ = code;
    error_ = std::string(call) + ": " + std::strerror(code);
}

bool Device::xioctlQuiet(unsigned long request, void *argument, int &code) {
    do code = io_->ioctl(fd_, request, argument);
    while (code == EINTR);
    return code == 0;
}

bool Device::xioctl(unsigned long request, void *argument) {
    int code = 0;
    if (xioctlQuiet(request, argument, code)) return true;
    fail(requestName(request), code);
    return false;
}

bool Device::open() {
    int code;
    do code = io_->open(node_, fd_);
    while (code == EINTR);
    if (code) {
        fd_ = -1;
        fail("open", code);
        return false;
    }
    v4l2_capability cap{};
    if (!xioctl(VIDIOC_QUERYCAP, &cap)) {
        close();
        return false;
    }
    const std::uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    card_ = text(cap.card, sizeof cap.card);
    bus_ = text(cap.bus_info, sizeof cap.bus_info);
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        errorCode_ = ENODEV;
        error_ = node_ + " is not a video-capture device that streams";
        close();
        return false;
    }
    return true;
}

bool Device::init(const FrameFormat &wanted) {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = wanted.width;
    fmt.fmt.pix.height = wanted.height;
    fmt.fmt.pix.pixelformat = wanted.pixelFormat;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    // A device that delivers alternating fields takes the height of one
    // field: ask what it makes of the request first, and ask for half the
    // frame's rows when its buffers hold single fields.
    v4l2_format tried = fmt;
    int ignored;  // a device without TRY_FMT is asked for the frame as it is
    if (xioctlQuiet(VIDIOC_TRY_FMT, &tried, ignored) && tried.fmt.pix.field == V4L2_FIELD_ALTERNATE) {
        fmt.fmt.pix.height = wanted.height / 2;
        fmt.fmt.pix.field = V4L2_FIELD_ALTERNATE;
    }
    if (!xioctl(VIDIOC_S_FMT, &fmt)) return false;
    const v4l2_pix_format &pix = fmt.fmt.pix;
    if (!decodable(pix.pixelformat) || pix.width == 0 || pix.height == 0) {
        errorCode_ = EINVAL;
        error_ = "VIDIOC_S_FMT: the device chose " + fourccText(pix.pixelformat) + ", a format that cannot be decoded";
        return false;
    }
    field_ = pix.field;
    bufferRows_ = pix.height;
    format_ = {pix.pixelformat, pix.width, field_ == V4L2_FIELD_ALTERNATE ? 2 * pix.height : pix.height};
    const BITMAPINFOHEADER header = bitmapHeader(format_);
    outStride_ = header.biSizeImage / format_.height;
    bytesPerLine_ = pix.bytesperline ? pix.bytesperline : static_cast<std::uint32_t>(outStride_);
    if (frameBytesOf(header) > kLargestFrameBytes) {
        errorCode_ = EFBIG;
        error_ = "frames of " + describeFormat(header) + " are larger than the " + std::to_string(kLargestFrameBytes) +
                 " bytes a frame may have";
        return false;
    }
    conversion_ = Conversion::None;
    undecodedFrames_ = 0;
    undecodedReason_.clear();
    const bool sequential = field_ == V4L2_FIELD_SEQ_TB || field_ == V4L2_FIELD_SEQ_BT;
    if (const auto layout = planarLayout(pix.pixelformat)) {
        conversion_ = Conversion::Planar;
        planar_ = {*layout, pix.width, bufferRows_, pix.bytesperline ? pix.bytesperline : pix.width};
    } else if (motionJpeg(pix.pixelformat)) {
        conversion_ = Conversion::Jpeg;
        if (!jpeg_) jpeg_ = std::make_unique<frameconv::JpegDecoder>();
        jpeg_->prepare(pix.width, bufferRows_);
    }
    if (conversion_ != Conversion::None && sequential) {
        errorCode_ = EINVAL;
        error_ = "VIDIOC_S_FMT: " + fourccText(pix.pixelformat) + " with one field after the other cannot be decoded";
        return false;
    }

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (!xioctl(VIDIOC_REQBUFS, &request)) return false;
    if (request.count < 2) {
        errorCode_ = ENOMEM;
        error_ = "VIDIOC_REQBUFS: the device gave " + std::to_string(request.count) + " buffer(s), 2 are needed";
        uninit();
        return false;
    }
    buffers_.reserve(request.count);
    for (std::uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (!xioctl(VIDIOC_QUERYBUF, &b)) {
            uninit();
            return false;
        }
        void *start = nullptr;
        if (const int code = io_->mmap(fd_, b.length, b.m.offset, start)) {
            fail("mmap", code);
            uninit();
            return false;
        }
        buffers_.push_back({start, b.length});
    }
    return true;
}

bool Device::start() {
    for (std::uint32_t i = 0; i < buffers_.size(); ++i) {
        v4l2_buffer b{};
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        b.index = i;
        if (!xioctl(VIDIOC_QBUF, &b)) return false;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!xioctl(VIDIOC_STREAMON, &type)) return false;
    streaming_ = true;
    fieldsSeen_ = 0;
    return true;
}

bool Device::dequeue(v4l2_buffer &buffer, int &code) {
    buffer = {};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (!xioctlQuiet(VIDIOC_DQBUF, &buffer, code)) return false;
    if (buffer.index >= buffers_.size()) {
        code = EINVAL;
        return false;
    }
    return true;
}

bool Device::requeue(v4l2_buffer &buffer) { return xioctl(VIDIOC_QBUF, &buffer); }

void Device::drain() {
    v4l2_buffer b;
    int code = 0;
    while (dequeue(b, code))
        if (!requeue(b)) return;
    fieldsSeen_ = 0;
}

// Rows go to the frame interleaved whatever the device's field layout:
// frame row 0 is the top field's first line, so the top field fills the
// even rows and the bottom field the odd rows.
bool Device::assemble(const v4l2_buffer &buffer, std::span<std::uint8_t> out) {
    const std::uint64_t frameBytes = outStride_ * format_.height;
    const std::uint64_t used = buffer.bytesused ? buffer.bytesused : buffers_[buffer.index].length;
    if (out.size() < frameBytes || buffers_[buffer.index].length < used) return false;
    const auto *src = static_cast<const std::uint8_t *>(buffers_[buffer.index].start);
    if (conversion_ != Conversion::None) return convert(buffer, {src, static_cast<std::size_t>(used)}, out);
    if (used < std::uint64_t(bytesPerLine_) * bufferRows_) return false;
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
        const bool bottom = buffer.field == V4L2_FIELD_BOTTOM;
        copyRows(src, bufferRows_, bottom ? 1 : 0, 2);
        fieldsSeen_ |= bottom ? 2u : 1u;
        if (fieldsSeen_ != 3) return false;
        fieldsSeen_ = 0;
        return true;
    }
    default: copyRows(src, bufferRows_, 0, 1); return true;
    }
}

// A converted buffer: planar YUV repacked, Motion-JPEG decoded. A field of
// alternating fields goes to every other row, as a packed one does.
bool Device::convert(const v4l2_buffer &buffer, std::span<const std::uint8_t> source, std::span<std::uint8_t> out) {
    const bool alternate = field_ == V4L2_FIELD_ALTERNATE;
    const bool bottom = alternate && buffer.field == V4L2_FIELD_BOTTOM;
    const std::uint32_t firstRow = bottom ? 1 : 0, step = alternate ? 2 : 1;
    bool ok;
    if (conversion_ == Conversion::Planar) {
        ok = frameconv::planarToYuy2(planar_, source, out, outStride_, firstRow, step);
        if (!ok) undecodedReason_ = "a planar frame of " + std::to_string(source.size()) + " bytes is too short";
    } else {
        ok = jpeg_->decodeToBgr24(source, out.subspan(static_cast<std::size_t>(firstRow * outStride_)),
                                  outStride_ * step);
        if (!ok) undecodedReason_ = jpeg_->error();
    }
    if (!ok) {
        ++undecodedFrames_;
        fieldsSeen_ = 0;
        return false;
    }
    if (!alternate) return true;
    fieldsSeen_ |= bottom ? 2u : 1u;
    if (fieldsSeen_ != 3) return false;
    fieldsSeen_ = 0;
    return true;
}

FrameWait Device::readFrame(std::optional<Micros> deadline, std::span<std::uint8_t> out) {
    const std::size_t frameBytes = static_cast<std::size_t>(outStride_ * format_.height);
    // A device whose poll keeps answering at once with no frame to dequeue
    // is broken (poll reports an error condition as readable).
    int emptyWakes = 0;
    for (;;) {
        if (deadline && session().clock().now() >= *deadline) return {FrameWait::Outcome::TimedOut, 0};
        v4l2_buffer b;
        int code = 0;
        if (dequeue(b, code)) {
            emptyWakes = 0;
            // A frame the device flags as damaged is given back unread.
            const bool whole = !(b.flags & V4L2_BUF_FLAG_ERROR) && assemble(b, out);
            if (b.flags & V4L2_BUF_FLAG_ERROR) fieldsSeen_ = 0;
            if (!requeue(b)) return {FrameWait::Outcome::Failed, 0};
            if (whole) return {FrameWait::Outcome::Frame, frameBytes};
            continue;
        }
        if (code != EAGAIN) {
            fail("VIDIOC_DQBUF", code);
            broken_ = true;
            return {FrameWait::Outcome::Failed, 0};
        }
        const int waited = io_->poll(fd_, deadline);
        if (waited == 0 && ++emptyWakes > kEmptyWakesAllowed) {
            fail("poll", EIO);
            broken_ = true;
            return {FrameWait::Outcome::Failed, 0};
        }
        if (waited == EINTR || waited == 0) continue;
        if (waited == ETIMEDOUT) return {FrameWait::Outcome::TimedOut, 0};
        fail("poll", waited);
        broken_ = true;
        return {FrameWait::Outcome::Failed, 0};
    }
}

std::size_t Device::latestFrame(std::span<std::uint8_t> out) {
    std::size_t got = 0;
    v4l2_buffer b;
    int code = 0;
    while (dequeue(b, code)) {
        if (!(b.flags & V4L2_BUF_FLAG_ERROR) && assemble(b, out))
            got = static_cast<std::size_t>(outStride_ * format_.height);
        if (!requeue(b)) return 0;
    }
    if (code != EAGAIN) {
        fail("VIDIOC_DQBUF", code);
        broken_ = true;
    }
    return got;
}

void Device::stop() {
    if (!streaming_) return;
    streaming_ = false;
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int ignored;  // a device that is gone stops by itself
    xioctlQuiet(VIDIOC_STREAMOFF, &type, ignored);
}

void Device::uninit() {
    if (buffers_.empty()) return;
    for (const Mapping &m : buffers_) io_->munmap(m.start, m.length);
    buffers_.clear();
    v4l2_requestbuffers request{};
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    int ignored;  // freeing the buffers fails only on a device that is gone, which frees them itself
    xioctlQuiet(VIDIOC_REQBUFS, &request, ignored);
}

void Device::close() {
    if (fd_ < 0) return;
    io_->close(fd_);
    fd_ = -1;
}

std::vector<Input> Device::inputs() {
    std::vector<Input> list;
    for (std::uint32_t i = 0; i < 64; ++i) {
        v4l2_input in{};
        in.index = i;
        int code;
        if (!xioctlQuiet(VIDIOC_ENUMINPUT, &in, code)) break;  // EINVAL past the last one
        list.push_back({in.index, text(in.name, sizeof in.name), in.std});
    }
    return list;
}

std::optional<std::uint32_t> Device::input() {
    int index = 0;
    int code;
    if (!xioctlQuiet(VIDIOC_G_INPUT, &index, code)) return std::nullopt;
    return static_cast<std::uint32_t>(index);
}

bool Device::setInput(std::uint32_t index) {
    int value = static_cast<int>(index);
    return xioctl(VIDIOC_S_INPUT, &value);
}

std::vector<Standard> Device::standards() {
    std::vector<Standard> list;
    for (std::uint32_t i = 0; i < 64; ++i) {
        v4l2_standard s{};
        s.index = i;
        int code;
        if (!xioctlQuiet(VIDIOC_ENUMSTD, &s, code)) break;  // EINVAL past the last, ENODATA: an input without
        list.push_back({s.id, text(s.name, sizeof s.name)});
    }
    return list;
}

std::optional<v4l2_std_id> Device::standard() {
    v4l2_std_id id = 0;
    int code;
    if (!xioctlQuiet(VIDIOC_G_STD, &id, code)) return std::nullopt;
    return id;
}

bool Device::setStandard(v4l2_std_id id) { return xioctl(VIDIOC_S_STD, &id); }

std::optional<v4l2_std_id> Device::detectStandard() {
    v4l2_std_id id = 0;
    int code;
    if (!xioctlQuiet(VIDIOC_QUERYSTD, &id, code))
        return std::nullopt;  // ENODATA: no standards here; ENOTTY: cannot tell
    return id;
}

std::vector<FrameFormat> Device::sizesOf(std::uint32_t pixelFormat) {
    std::vector<FrameFormat> sizes;
    const auto add = [&](FrameFormat f) {
        if (f.width == 0 || f.height == 0 || std::find(sizes.begin(), sizes.end(), f) != sizes.end()) return;
        if (bitmapHeader(f).biSizeImage > kLargestFrameBytes) return;  // never offered: it could not be kept
        sizes.push_back(f);
    };
    // What the device makes of a size it is asked for.
    const auto tryIt = [&](std::uint32_t w, std::uint32_t h) {
        v4l2_format fmt{};
        fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        fmt.fmt.pix = {};
        fmt.fmt.pix.width = w;
        fmt.fmt.pix.height = h;
        fmt.fmt.pix.pixelformat = pixelFormat;
        fmt.fmt.pix.field = V4L2_FIELD_ANY;
        int code;
        if (!xioctlQuiet(VIDIOC_TRY_FMT, &fmt, code) || fmt.fmt.pix.pixelformat != pixelFormat) return;
        if (fmt.fmt.pix.field == V4L2_FIELD_ALTERNATE) {
            // Single fields: the size asked for is a frame, its field half as high.
            fmt.fmt.pix.width = w;
            fmt.fmt.pix.height = h / 2;
            if (!xioctlQuiet(VIDIOC_TRY_FMT, &fmt, code) || fmt.fmt.pix.pixelformat != pixelFormat) return;
        }
        const std::uint32_t rows =
            fmt.fmt.pix.field == V4L2_FIELD_ALTERNATE ? 2 * fmt.fmt.pix.height : fmt.fmt.pix.height;
        add({pixelFormat, fmt.fmt.pix.width, rows});
    };
    v4l2_frmsizeenum size{};
    size.index = 0;
    size.pixel_format = pixelFormat;
    int code;
    if (xioctlQuiet(VIDIOC_ENUM_FRAMESIZES, &size, code) && size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
        do add({pixelFormat, size.discrete.width, size.discrete.height});
        while (++size.index < 256 && xioctlQuiet(VIDIOC_ENUM_FRAMESIZES, &size, code));
    } else {
        // A range of sizes, or a device that does not say: the common sizes it takes.
        for (const auto &[w, h] : kCommonSizes) tryIt(w, h);
    }
    return sizes;
}

std::vector<FrameFormat> Device::frameFormats() {
    std::vector<FrameFormat> all;
    for (std::uint32_t i = 0; i < 256; ++i) {
        v4l2_fmtdesc d{};
        d.index = i;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        int code;
        if (!xioctlQuiet(VIDIOC_ENUM_FMT, &d, code)) break;  // EINVAL past the last one
        if (!decodable(d.pixelformat)) continue;
        for (const FrameFormat &f : sizesOf(d.pixelformat)) all.push_back(f);
    }
    return all;
}

std::optional<FrameFormat> Device::currentFormat() {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (!xioctl(VIDIOC_G_FMT, &fmt)) return std::nullopt;
    const v4l2_pix_format &pix = fmt.fmt.pix;
    return FrameFormat{pix.pixelformat, pix.width, pix.field == V4L2_FIELD_ALTERNATE ? 2 * pix.height : pix.height};
}

std::vector<Control> Device::controls() {
    std::vector<Control> list;
    v4l2_queryctrl q{};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    int code;
    while (list.size() < 256 && xioctlQuiet(VIDIOC_QUERYCTRL, &q, code)) {
        const std::uint32_t id = q.id;
        // The standard picture and camera controls; a driver's private ones
        // (a test driver has dozens) stay out of the dialog.
        const bool standard = id < V4L2_CID_LASTP1 || V4L2_CTRL_ID2CLASS(id) == V4L2_CTRL_CLASS_CAMERA;
        const bool usable =
            standard && !(q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY)) &&
            (q.type == V4L2_CTRL_TYPE_INTEGER || q.type == V4L2_CTRL_TYPE_BOOLEAN || q.type == V4L2_CTRL_TYPE_MENU);
        if (usable) {
            Control c{id,        text(q.name, sizeof q.name), q.type,          q.minimum,
                      q.maximum, std::max(q.step, 1),         q.default_value, 0,
                      {}};
            v4l2_control value{id, 0};
            c.value = xioctlQuiet(VIDIOC_G_CTRL, &value, code) ? value.value : q.default_value;
            if (q.type == V4L2_CTRL_TYPE_MENU)
                for (std::int32_t i = q.minimum; i <= q.maximum && i - q.minimum < 64; ++i) {
                    v4l2_querymenu m{};
                    m.id = id;
                    m.index = static_cast<std::uint32_t>(i);
                    if (xioctlQuiet(VIDIOC_QUERYMENU, &m, code)) c.menu.emplace_back(i, text(m.name, sizeof m.name));
                }
            list.push_back(std::move(c));
        }
        q = {};
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return list;
}

bool Device::setControl(std::uint32_t id, std::int32_t value) {
    v4l2_control c{id, value};
    return xioctl(VIDIOC_S_CTRL, &c);
}

std::optional<Micros> Device::frameInterval() {
    v4l2_streamparm p{};
    p.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    int code;
    if (!xioctlQuiet(VIDIOC_G_PARM, &p, code)) return std::nullopt;
    const v4l2_fract &t = p.parm.capture.timeperframe;
    if (t.numerator == 0 || t.denominator == 0) return std::nullopt;
    return Micros{t.numerator} * 1000000 / t.denominator;
}

}  // namespace plat::avicap::v4l2
