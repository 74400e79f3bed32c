// One streaming capture of the capture window: frames from the driver, each
// handed to the video-stream callback and then, into a file, written. It
// runs on the calling thread, nested in the message that started it, and
// returns once the stream has ended: at the frame whose callback asked to
// stop, at the time limit, or when the device fails.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <memory>
#include <span>

#include "avicap/driver.h"
#include "avicap/stream_record.h"
#include "avifile/avi_writer.h"

namespace plat::avicap {

// What the capture status reports of the latest stream.
struct StreamProgress {
    bool running = false;
    Micros start = 0;
    DWORD framesDelivered = 0;
    DWORD elapsedMs = 0;  // of the stream that ended last
};

class CaptureStream final : public StreamControl {
public:
    // `callback` is read at every frame, so a callback changed during the
    // stream takes effect at the next one. `frame` and `extraFrame` are the
    // window's buffers, each at least one frame long.
    // `clock` times the frames; `records` keeps what the stream did.
    CaptureStream(HWND window, std::shared_ptr<Driver> driver, const CAPVIDEOCALLBACK &callback,
                  std::span<std::uint8_t> frame, std::span<std::uint8_t> extraFrame, StreamProgress &progress,
                  Clock &clock, StreamRecords &records);

    // Runs the stream to its end. `file` is null for a stream without a
    // capture file. False when the driver could not start, the device
    // failed (deviceFailed() says so) or writing the file failed.
    bool run(const CAPTUREPARMS &parms, avi::Writer *file);
    bool deviceFailed() const { return deviceFailed_; }
    // A readout whose exposure the camera port did not carry: why, else "".
    // The stream is refused as a failed one is: its frames are no image.
    const char *portLoss() const { return portLoss_; }

    // A stop request: takes effect once the callback that sent it returns.
    void requestStop(bool abort);

    bool deliverExtraFrame() override;

private:
    void deliver(std::span<std::uint8_t> frame, std::size_t used);

    HWND window_;
    std::shared_ptr<Driver> driver_;
    const CAPVIDEOCALLBACK &callback_;
    std::span<std::uint8_t> frame_, extraFrame_;
    StreamProgress &progress_;
    Clock &clock_;
    StreamRecords &records_;
    bool stopRequested_ = false;
    bool abortRequested_ = false;
    bool deliveringExtra_ = false;
    bool deviceFailed_ = false;
    char portLoss_[160] = {};
};

}  // namespace plat::avicap
