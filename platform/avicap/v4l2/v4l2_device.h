// One V4L2 video-capture device, read as its lifecycle: open, init, start,
// read frames, stop, uninit, close. Every call goes through the Io
// interface; interrupted calls are retried, and every failure is kept as
// "<call>: <reason>" for the user and the log.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "avicap/v4l2/v4l2_io.h"
#include "frameconv/planar_yuv.h"

namespace plat::frameconv {
class JpegDecoder;
}

namespace plat::avicap::v4l2 {

struct Input {
    std::uint32_t index = 0;
    std::string name;
    v4l2_std_id standards = 0;  // the TV standards this input takes; 0 for none
};

struct Standard {
    v4l2_std_id id = 0;
    std::string name;
};

struct Control {
    std::uint32_t id = 0;
    std::string name;
    std::uint32_t type = 0;  // V4L2_CTRL_TYPE_INTEGER, _BOOLEAN or _MENU
    std::int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
    std::int32_t value = 0;
    std::vector<std::pair<std::int32_t, std::string>> menu;  // the items of a menu control
};

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
std::string fourccText(std::uint32_t pixelFormat);
// "YU12 640x480, as YUY2" for dialogs: the device's format and, when it is
// converted, what it is handed over as.
std::string describeDeviceFormat(const FrameFormat &f);

// Lines of the standards in `id`: 480 for 525-line standards, 576 for
// 625-line ones, 0 for none or a mixture of both.
std::uint32_t linesOf(v4l2_std_id id);

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
    // next frame read is one that ends after this call.
    void drain();
    // Waits until a whole frame is there or the platform clock reaches
    // `deadline`, and copies it into `out` in the layout bitmapHeader()
    // describes, fields interleaved. Frames the device flags as bad are
    // skipped.
    FrameWait readFrame(std::optional<Micros> deadline, std::span<std::uint8_t> out);
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
    const FrameFormat &format() const { return format_; }
    std::uint32_t field() const { return field_; }
    // The last failure, "VIDIOC_S_FMT: Device or resource busy"; and its errno.
    const std::string &error() const { return error_; }
    int errorCode() const { return errorCode_; }
    // Frames that arrived whole but could not be converted (a damaged
    // Motion-JPEG frame) since init(), and why the last one failed.
    unsigned undecodedFrames() const { return undecodedFrames_; }
    const std::string &undecodedReason() const { return undecodedReason_; }

    std::vector<Input> inputs();
    std::optional<std::uint32_t> input();
    bool setInput(std::uint32_t index);
    std::vector<Standard> standards();
    std::optional<v4l2_std_id> standard();
    bool setStandard(v4l2_std_id id);
    // The standards the current input receives (VIDIOC_QUERYSTD): 0 for no
    // signal; none when the input or the device cannot tell.
    std::optional<v4l2_std_id> detectStandard();
    // Every decodable pixel format at every frame size the device offers.
    std::vector<FrameFormat> frameFormats();
    std::optional<FrameFormat> currentFormat();
    std::vector<Control> controls();
    bool setControl(std::uint32_t id, std::int32_t value);
    // The device's nominal frame interval, if it tells.
    std::optional<Micros> frameInterval();

private:
    // The ioctl, retried while a signal interrupts it; false with the error kept.
    bool xioctl(unsigned long request, void *argument);
    bool xioctlQuiet(unsigned long request, void *argument, int &code);
    void fail(const char *call, int code);
    // Dequeues one finished buffer: true with `buffer` filled, false with
    // `code` EAGAIN when none is finished or another errno on failure.
    bool dequeue(v4l2_buffer &buffer, int &code);
    bool requeue(v4l2_buffer &buffer);
    // Copies a finished buffer into `out`; true once a whole frame is there.
    bool assemble(const v4l2_buffer &buffer, std::span<std::uint8_t> out);
    bool convert(const v4l2_buffer &buffer, std::span<const std::uint8_t> source, std::span<std::uint8_t> out);
    std::vector<FrameFormat> sizesOf(std::uint32_t pixelFormat);

    struct Mapping {
        void *start = nullptr;
        std::size_t length = 0;
    };

    std::shared_ptr<Io> io_;
    std::string node_;
    int fd_ = -1;
    std::string card_, bus_;
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
    std::vector<Mapping> buffers_;
    bool streaming_ = false;
    bool broken_ = false;
    unsigned fieldsSeen_ = 0;  // of the frame being assembled from alternating fields
    std::string error_;
    int errorCode_ = 0;
};

}  // namespace plat::avicap::v4l2
