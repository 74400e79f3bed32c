// Capture drivers behind the capture window.
//
// A driver is one video source: it says what it is, which frame formats it
// offers, and fills caller-owned buffers with its frames. The capture window
// owns the buffers; a driver never allocates per frame.
//
// Drivers are made by factories registered by name. The machine's
// configuration (<root>/windows/system.ini, [drivers32] msvideo,
// msvideo1 .. msvideo9) lists by name which driver sits at which index.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/clock.h"

namespace plat::avicap {

// What the driver's hardware offers beyond streaming.
struct DriverCaps {
    bool overlay = false;       // draws live video without the capture window's help
    bool sourceDialog = false;  // has a Video Source dialog
    bool formatDialog = false;  // has a Video Format dialog
    bool watched = false;       // may go away while nobody reads it: idle() is called
};

// FourCC of packed 4:2:2 YUV (Y0 U Y1 V), always stored top-down.
inline constexpr DWORD kFourccYUY2 = 0x32595559;  // 'Y','U','Y','2'

// The largest frame a driver may deliver: 768 x 576 at 4 bytes a pixel, any
// standard-definition frame, what a capture program's buffer for one kept
// frame holds. Drivers offer no format whose frames are larger.
inline constexpr std::size_t kLargestFrameBytes = 1769472;

// A frame format: 24-bit RGB (bottom-up rows padded to 4 bytes) or YUY2.
BITMAPINFOHEADER makeFormat(int width, int height, int bitCount, DWORD compression);
// Bytes of one frame in `format` (its biSizeImage when set, else computed).
std::size_t frameBytes(const BITMAPINFOHEADER &format);
// "640 x 480, 24-bit RGB" for dialogs and messages.
std::string describeFormat(const BITMAPINFOHEADER &format);

// What the capture window offers a driver while a stream runs.
class StreamControl {
public:
    virtual ~StreamControl() = default;
    // Captures one more frame now and hands it to the video-stream callback,
    // nested inside whatever the capture window is doing. Returns false when
    // no further nesting is possible.
    virtual bool deliverExtraFrame() = 0;
};

// The outcome of waiting for a stream's next frame.
struct FrameWait {
    enum class Outcome {
        Frame,     // `bytesUsed` bytes of the buffer hold the next frame
        TimedOut,  // the deadline came first; the stream may go on
        Failed,    // the device stopped delivering; failure() says why
    };
    Outcome outcome = Outcome::TimedOut;
    std::size_t bytesUsed = 0;
};

class Driver {
public:
    virtual ~Driver() = default;

    // Known before the driver is opened (the driver list shows them).
    virtual std::string description() const = 0;
    virtual std::string version() const = 0;

    // Opens the device; false when it cannot be opened. close() may be
    // called more than once and on a driver that never opened.
    virtual bool open() = 0;
    virtual void close() = 0;

    virtual DriverCaps caps() const = 0;
    virtual std::span<const BITMAPINFOHEADER> formats() const = 0;
    virtual std::size_t formatIndex() const = 0;
    // Switches to formats()[index]; false when the index is out of range.
    virtual bool selectFormat(std::size_t index) = 0;
    const BITMAPINFOHEADER &format() const { return formats()[formatIndex()]; }

    // A streaming capture asks for frames in three steps: startStream once,
    // nextFrame for every frame (each fills a caller-owned buffer of at
    // least frameBytes(format()) bytes), endStream once. nextFrame waits on
    // the platform clock until the frame is there or `deadline` passes; a
    // driver paced by the clock makes frames at the requested interval, a
    // device that paces itself hands over frames as it delivers them.
    virtual bool startStream(Micros frameInterval) = 0;
    virtual FrameWait nextFrame(std::optional<Micros> deadline, std::span<std::uint8_t> frame) = 0;
    virtual void endStream() = 0;

    // The newest frame now, for live video and for frames delivered from
    // inside a stop request; the bytes used, 0 when there is none.
    virtual std::size_t grabFrame(std::span<std::uint8_t> frame) = 0;

    // Why the device failed, in plain words for the user; empty while it works.
    virtual std::string failure() const { return {}; }
    // The system's errno for that failure, 0 when it has none.
    virtual int failureCode() const { return 0; }

    // A device that failed (unplugged, its stream broken) is closed at once
    // and looked for again: recover() opens it again when it is back, set up
    // as it was. Working: nothing had failed. `eager` looks now; otherwise a
    // driver may look at most once a second (live video asks at every frame).
    enum class Recovery { Working, Back, NotBack };
    virtual Recovery recover(bool eager) { return Recovery::Working; }

    // Called about once a second while the driver is connected and nothing
    // reads its frames (no stream, no live video), when caps() says it is
    // watched: a device that went away is let go at once.
    virtual void idle() {}

    // Something the user should hear of once, in plain words, though the
    // driver goes on working: a saved choice it could not honour and what it
    // chose instead, frames it had to refuse. Empty when there is nothing
    // new; each notice is given out once.
    virtual std::string takeNotice() { return {}; }

    // The driver's own modal dialogs; true when the user confirmed them.
    // Only called when caps() says the dialog exists.
    virtual bool videoSourceDialog(HWND owner) { return false; }
    virtual bool videoFormatDialog(HWND owner) { return false; }

    // A stop request reached the capture window while a stream runs.
    virtual void stopRequested(StreamControl &stream) {}
};

// A driver that makes each frame when asked, at a platform time: streams
// are paced by the platform clock (frame n at start + n x interval), live
// frames are made at the time they are asked for.
class ClockPacedDriver : public Driver {
public:
    explicit ClockPacedDriver(Clock &clock) : clock_(clock) {}

    // Fills `frame` (at least frameBytes(format()) bytes) with the frame
    // captured at platform time `time`; returns the bytes used.
    virtual std::size_t captureFrame(Micros time, std::span<std::uint8_t> frame) = 0;

    bool startStream(Micros frameInterval) override;
    FrameWait nextFrame(std::optional<Micros> deadline, std::span<std::uint8_t> frame) override;
    void endStream() override {}
    std::size_t grabFrame(std::span<std::uint8_t> frame) override;

protected:
    Clock &clock() const { return clock_; }

private:
    Clock &clock_;
    Micros streamStart_ = 0;
    Micros interval_ = 1;
    Micros framesMade_ = 0;
};

using DriverFactory = std::function<std::unique_ptr<Driver>()>;

// Makes a driver known by `name` (case-insensitive) in the current session;
// a later registration under the same name replaces the earlier one. The
// simulated camera is known as "simcam" from the start.
void registerDriverFactory(std::string name, DriverFactory factory);

// Index the driver list uses when the configuration lists no driver at all.
inline constexpr std::string_view kDefaultDriverName = "simcam";
inline constexpr int kMaxDrivers = 10;

// The name configured at `index` (0-9) whose factory is known; empty when the
// index holds no usable driver.
std::string installedDriverName(int index);

// A new, unopened driver for the index; null when the index holds none.
std::unique_ptr<Driver> makeInstalledDriver(int index);

// Opens the driver installed at `index`: null when the index holds none or
// it fails to open (then `failure`, when given, gets the driver's reason). The driver is closed when the last holder
// lets it go, or when the session ends while it is still held (the devices it watches, such as the port, end with the
// session).
std::shared_ptr<Driver> openInstalledDriver(int index, std::string *failure = nullptr);

}  // namespace plat::avicap
