#include "avicap/v4l2/v4l2_device.h"

#include <cerrno>
#include <cstring>

namespace plat::avicap::v4l2 {

namespace {

constexpr std::uint32_t kBufferCount = 4;
// Wake-ups of poll with no frame behind them before the device counts as broken.
constexpr int kEmptyWakesAllowed = 64;

}  // namespace

std::string nameText(const __u8 *bytes, std::size_t size) {
    return std::string(reinterpret_cast<const char *>(bytes), strnlen(reinterpret_cast<const char *>(bytes), size));
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
    card_ = nameText(cap.card, sizeof cap.card);
    bus_ = nameText(cap.bus_info, sizeof cap.bus_info);
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        errorCode_ = ENODEV;
        error_ = node_ + " is not a video-capture device that streams";
        close();
        return false;
    }
    return true;
}

bool Device::init(const FrameFormat &wanted) {
    v4l2_pix_format taken{};
    return setFormat(wanted, taken) && prepareFrames(taken) && mapBuffers();
}

// A device that delivers alternating fields takes the height of one field:
// ask what it makes of the request first, and ask for half the frame's rows
// when its buffers hold single fields.
bool Device::setFormat(const FrameFormat &wanted, v4l2_pix_format &taken) {
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = wanted.width;
    fmt.fmt.pix.height = wanted.height;
    fmt.fmt.pix.pixelformat = wanted.pixelFormat;
    fmt.fmt.pix.field = V4L2_FIELD_ANY;
    v4l2_format tried = fmt;
    int ignored;  // a device without TRY_FMT is asked for the frame as it is
    if (xioctlQuiet(VIDIOC_TRY_FMT, &tried, ignored) && tried.fmt.pix.field == V4L2_FIELD_ALTERNATE) {
        fmt.fmt.pix.height = wanted.height / 2;
        fmt.fmt.pix.field = V4L2_FIELD_ALTERNATE;
    }
    if (!xioctl(VIDIOC_S_FMT, &fmt)) return false;
    taken = fmt.fmt.pix;
    return true;
}

bool Device::prepareFrames(const v4l2_pix_format &taken) {
    std::string why;
    if (const int code = frames_.prepare(taken, why)) {
        errorCode_ = code;
        error_ = std::move(why);
        return false;
    }
    return true;
}

bool Device::mapBuffers() {
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
    frames_.restart();
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
    frames_.restart();
    v4l2_buffer b;
    int code = 0;
    while (dequeue(b, code))
        if (!requeue(b)) {
            broken_ = true;
            return;
        }
    if (code != EAGAIN) {
        fail("VIDIOC_DQBUF", code);
        broken_ = true;
    }
}

// A frame the device flags as damaged is given back unread, and breaks a
// pair of alternating fields.
bool Device::assemble(const v4l2_buffer &buffer, std::span<std::uint8_t> out) {
    if (buffer.flags & V4L2_BUF_FLAG_ERROR) {
        frames_.restart();
        return false;
    }
    const Mapping &m = buffers_[buffer.index];
    const std::size_t used = buffer.bytesused ? buffer.bytesused : m.length;
    if (m.length < used) return false;
    return frames_.add({static_cast<const std::uint8_t *>(m.start), used}, buffer.field, out);
}

FrameWait Device::readFrame(std::optional<Micros> deadline, std::span<std::uint8_t> out, Clock &clock) {
    // A device whose poll keeps answering at once with no frame to dequeue
    // is broken (poll reports an error condition as readable).
    int emptyWakes = 0;
    for (;;) {
        if (deadline && clock.now() >= *deadline) return {FrameWait::Outcome::TimedOut, 0};
        v4l2_buffer b;
        int code = 0;
        if (dequeue(b, code)) {
            emptyWakes = 0;
            const bool whole = assemble(b, out);
            if (!requeue(b)) return {FrameWait::Outcome::Failed, 0};
            if (whole) return {FrameWait::Outcome::Frame, frames_.frameBytes()};
            continue;
        }
        if (code != EAGAIN) {
            fail("VIDIOC_DQBUF", code);
            broken_ = true;
            return {FrameWait::Outcome::Failed, 0};
        }
        const int waited = io_->poll(fd_, deadline, clock);
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
        if (assemble(b, out)) got = frames_.frameBytes();
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

}  // namespace plat::avicap::v4l2
