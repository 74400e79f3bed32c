// A scripted stand-in for the machine's V4L2 devices: the calls of the
// driver's Io interface answered from a plan per device node, with frames
// finished on the virtual clock at the device's frame interval. Faults are
// part of the plan: a node that is not a capture device, formats refused,
// a device busy with another program, controls refused, frames flagged
// bad, calls interrupted by a signal, a device unplugged mid-stream.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "avicap/v4l2/v4l2_io.h"

namespace noctil::test {

struct FakeInput {
    std::string name;
    v4l2_std_id standards = 0;
};

struct FakeStandard {
    v4l2_std_id id = 0;
    std::string name;
    std::uint32_t lines = 480;  // frame height on this standard
};

struct FakePixelFormat {
    std::uint32_t pixelFormat = V4L2_PIX_FMT_YUYV;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;  // discrete sizes; empty: any size (stepwise)
};

struct FakeControl {
    std::uint32_t id = V4L2_CID_BRIGHTNESS;
    std::string name = "Brightness";
    std::uint32_t type = V4L2_CTRL_TYPE_INTEGER;
    std::int32_t minimum = 0, maximum = 255, step = 1, defaultValue = 128, value = 128;
    std::vector<std::string> menu;  // items of a menu control, from index `minimum`
    bool refusesSet = false;        // S_CTRL answers EINVAL
};

// What the fake did, for the test to look at.
struct FakeV4l2Log {
    std::vector<std::string> calls;  // request names in order (QUERYCAP, S_FMT ...)
    int opens = 0, closes = 0, maps = 0, unmaps = 0, streamOns = 0, streamOffs = 0;
    std::vector<std::uint32_t> formatsSet;                            // pixel formats of each S_FMT
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sizesAsked;  // width and height each S_FMT asked for
    std::vector<std::int32_t> controlsSet;
};

struct FakeV4l2Device {
    std::string node = "/dev/video0";
    std::string card = "Fake grabber";
    std::string bus = "usb-0000:00:14.0-1";
    std::uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    bool answersQueryCap = true;  // false: not a V4L2 device at all (ENOTTY)
    std::vector<FakeInput> inputs = {{"Composite", V4L2_STD_NTSC | V4L2_STD_PAL},
                                     {"S-Video", V4L2_STD_NTSC | V4L2_STD_PAL}};
    std::vector<FakeStandard> standards = {{V4L2_STD_NTSC_M, "NTSC-M", 480}, {V4L2_STD_PAL_BG, "PAL-BG", 576}};
    std::vector<FakePixelFormat> formats = {{V4L2_PIX_FMT_YUYV, {{640, 480}, {320, 240}}}};
    std::vector<FakeControl> controls = {FakeControl{}};
    std::uint32_t field = V4L2_FIELD_NONE;  // layout of delivered frames
    std::pair<std::uint32_t, std::uint32_t> startSize = {640,
                                                         480};  // the size the device is left at (nearest it takes)
    // What VIDIOC_QUERYSTD answers: none, ENOTTY (the device cannot tell);
    // 0, no signal; else the standards received.
    std::optional<v4l2_std_id> received;
    // Motion-JPEG frames the device delivers, one after the other, again
    // from the first after the last.
    std::vector<std::vector<std::uint8_t>> jpegFrames;
    plat::Micros frameInterval = 33333;
    // Faults.
    int setFormatError = 0;                  // S_FMT answers this errno (EINVAL: refuses every format; EBUSY: held)
    std::set<std::uint32_t> refusedFormats;  // S_FMT answers EINVAL for these pixel formats
    v4l2_std_id refusedStandards = 0;        // S_STD answers EINVAL for these
    std::set<std::uint32_t> badFrames;       // frame sequence numbers flagged V4L2_BUF_FLAG_ERROR
    std::set<unsigned long> interruptOnce;   // each of these requests answers EINTR once, then works
    bool interruptPollOnce = false;
    int disappearAfterFrames = -1;  // the device is unplugged once this many frames are finished
    // The stream breaks once this many frames are finished: DQBUF answers
    // EIO and poll wakes at once until STREAMOFF, as a fatal streaming error.
    int fatalErrorAfterFrames = -1;
    bool dropsEveryFrame = false;  // streams, but no buffer is ever finished (no signal)
    std::shared_ptr<FakeV4l2Log> log = std::make_shared<FakeV4l2Log>();
};

// Fills row `y` of a picture with its number, two bytes little-endian,
// repeated: a frame whose rows arrive in the right order reads back 0, 1, 2 ...
// Rows below the lines of the standard the device is on (a 576-line frame
// asked of a device at NTSC) are one flat colour instead.
std::uint16_t fakeRowMark(const std::uint8_t *row);

class FakeV4l2 final : public plat::avicap::v4l2::Io {
public:
    explicit FakeV4l2(std::vector<FakeV4l2Device> devices);
    ~FakeV4l2() override;

    std::vector<std::string> deviceNodes() override;
    int open(const std::string &path, int &fd) override;
    void close(int fd) override;
    int ioctl(int fd, unsigned long request, void *argument) override;
    int poll(int fd, std::optional<plat::Micros> deadline, plat::Clock &clock) override;
    int mmap(int fd, std::size_t length, std::int64_t offset, void *&address) override;
    void munmap(void *address, std::size_t length) override;

    FakeV4l2Device &device(const std::string &node);
    // Unplugs a device now: every further call on it answers ENODEV.
    void unplug(const std::string &node);
    // Plugs an unplugged device in again, as a new device at `newNode` (its
    // old node when empty) with `plan`'s settings: handles of the old one
    // still answer ENODEV.
    // The stream of a device breaks now, as a fatal streaming error.
    void breakStream(const std::string &node);
    void plugBackIn(const std::string &node, const std::string &newNode, FakeV4l2Device plan);

private:
    struct State;
    State &stateOf(int fd);
    std::map<std::string, std::unique_ptr<State>> states_;
    std::vector<std::unique_ptr<State>> retired_;  // devices unplugged and replaced
    std::map<int, State *> open_;
    int nextFd_ = 100;
};

// The plain session-wide V4L2 fake with no device, for tests that must not
// see the machine's own devices.
std::shared_ptr<plat::avicap::v4l2::Io> noVideoDevices();

}  // namespace noctil::test
