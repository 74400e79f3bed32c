// Streams of drivers that make each frame when asked: frame n is made at
// start + n x interval on the driver's clock.
#include "avicap/driver.h"

namespace plat::avicap {

bool ClockPacedDriver::startStream(Micros frameInterval) {
    streamStart_ = clock_.now();
    interval_ = frameInterval > 0 ? frameInterval : 1;
    framesMade_ = 0;
    return true;
}

// A frame that would fall at or past the deadline is not made: the wait
// ends at the deadline itself.
FrameWait ClockPacedDriver::nextFrame(std::optional<Micros> deadline, std::span<std::uint8_t> frame) {
    const Micros due = streamStart_ + framesMade_ * interval_;
    if (deadline && due >= *deadline) {
        clock_.sleepUntil(*deadline);
        return {FrameWait::Outcome::TimedOut, 0};
    }
    clock_.sleepUntil(due);
    ++framesMade_;
    return {FrameWait::Outcome::Frame, captureFrame(clock_.now(), frame)};
}

std::size_t ClockPacedDriver::grabFrame(std::span<std::uint8_t> frame) {
    return captureFrame(clock_.now(), frame);
}

}  // namespace plat::avicap
