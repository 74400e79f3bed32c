// Streams of drivers that make each frame when asked: frame n is made at
// start + n x interval on the platform clock.
#include "avicap/driver.h"
#include "core/session.h"

namespace plat::avicap {

bool ClockPacedDriver::startStream(Micros frameInterval) {
    streamStart_ = session().clock().now();
    interval_ = frameInterval > 0 ? frameInterval : 1;
    framesMade_ = 0;
    return true;
}

// A frame that would fall at or past the deadline is not made: the wait
// ends at the deadline itself.
FrameWait ClockPacedDriver::nextFrame(std::optional<Micros> deadline, std::span<std::uint8_t> frame) {
    Clock &clock = session().clock();
    const Micros due = streamStart_ + framesMade_ * interval_;
    if (deadline && due >= *deadline) {
        clock.sleepUntil(*deadline);
        return {FrameWait::Outcome::TimedOut, 0};
    }
    clock.sleepUntil(due);
    ++framesMade_;
    return {FrameWait::Outcome::Frame, captureFrame(clock.now(), frame)};
}

std::size_t ClockPacedDriver::grabFrame(std::span<std::uint8_t> frame) {
    return captureFrame(session().clock().now(), frame);
}

}  // namespace plat::avicap
