// One V4L2 video-capture device, read as its lifecycle: open, init, start,
// read frames, stop, uninit, close. Every call goes through the Io
// interface; interrupted calls are retried, and every failure is kept as
// "<call>: <reason>" for the user and the log. How buffers become frames is
// v4l2_fields.h's; what the device offers (inputs, standards, controls,
// sizes) v4l2_listing.h's.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "avicap/v4l2/v4l2_fields.h"
#include "avicap/v4l2/v4l2_format.h"
#include "avicap/v4l2/v4l2_io.h"
#include "core/clock.h"

namespace plat::avicap::v4l2 {

// A name field of a V4L2 structure (NUL-padded, not always NUL-ended) as text.
std::string nameText(const __u8 *bytes, std::size_t size);

class Device {
public:
    Device(std::shared_ptr<Io> io, std::string node);
    ~Device();
    Device(const Device &) = delete;
    Device &operator=(const Device &) = delete;

    // Opens the node; false unless it is a video-capture device that streams.
    bool open();
    // Chooses the format and maps the buffers. The format the device took
    // may differ from the one asked for: format() says which.
    bool init(const FrameFormat &wanted);
    // Queues every buffer and starts streaming.
    bool start();
    // Gives back every frame the device has finished already, so that the
    // next frame read is one that ends after this call; a device gone or
    // broken is noticed here too.
    void drain();
    // Waits until a whole frame is there or `clock` reaches `deadline`, and
    // copies it into `out` in the layout bitmapHeader() describes, fields
    // interleaved. Frames the device flags as bad are skipped.
    FrameWait readFrame(std::optional<Micros> deadline, std::span<std::uint8_t> out, Clock &clock);
    // The newest finished frame without waiting; 0 bytes when there is none.
    std::size_t latestFrame(std::span<std::uint8_t> out);
    void stop();
    void uninit();
    void close();

    bool isOpen() const { return fd_ >= 0; }
    bool streaming() const { return streaming_; }
    // A frame could not be dequeued for another reason than none being
    // finished: the device is gone or its stream broke (EIO).
    bool broken() const { return broken_; }
    const std::string &node() const { return node_; }
    const std::string &card() const { return card_; }
    const std::string &bus() const { return bus_; }
    const FrameFormat &format() const { return frames_.format(); }
    std::uint32_t field() const { return frames_.field(); }
    // The last failure, "VIDIOC_S_FMT: Device or resource busy"; and its errno.
    const std::string &error() const { return error_; }
    int errorCode() const { return errorCode_; }
    // Frames that arrived whole but could not be converted (a damaged
    // Motion-JPEG frame) since init(), and why the last one failed.
    unsigned undecodedFrames() const { return frames_.undecodedFrames(); }
    const std::string &undecodedReason() const { return frames_.undecodedReason(); }

    // The device's ioctl, retried while a signal interrupts it: xioctl keeps
    // a failure as error(), xioctlQuiet only hands back its errno.
    bool xioctl(unsigned long request, void *argument);
    bool xioctlQuiet(unsigned long request, void *argument, int &code);

private:
    void fail(const char *call, int code);
    // The three parts of init(): the format the device takes, how its
    // buffers become frames, and the buffers mapped.
    bool setFormat(const FrameFormat &wanted, v4l2_pix_format &taken);
    bool prepareFrames(const v4l2_pix_format &taken);
    bool mapBuffers();
    // Dequeues one finished buffer: true with `buffer` filled, false with
    // `code` EAGAIN when none is finished or another errno on failure.
    bool dequeue(v4l2_buffer &buffer, int &code);
    bool requeue(v4l2_buffer &buffer);
    // Adds a finished buffer to the frame in `out`; true once it is whole.
    bool assemble(const v4l2_buffer &buffer, std::span<std::uint8_t> out);

    struct Mapping {
        void *start = nullptr;
        std::size_t length = 0;
    };

    std::shared_ptr<Io> io_;
    std::string node_;
    int fd_ = -1;
    std::string card_, bus_;
    FrameAssembly frames_;
    std::vector<Mapping> buffers_;
    bool streaming_ = false;
    bool broken_ = false;
    std::string error_;
    int errorCode_ = 0;
};

}  // namespace plat::avicap::v4l2
