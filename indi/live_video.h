// Live video for a client's video window (framing, focusing): a thread that
// takes the capture device's frame now at a steady rate, while no exposure
// runs, until it is stopped.
#pragma once

#include <functional>
#include <thread>

#include "core/clock.h"
#include "exposure_runner.h"

namespace noctil::indi {

class LiveVideo {
public:
    // Calls `frame` every `interval` on `clock` from a thread of its own.
    LiveVideo(plat::Clock &clock, plat::Micros interval, std::function<void()> frame);
    // Stops and waits for the thread: no frame is taken after it.
    ~LiveVideo();
    LiveVideo(const LiveVideo &) = delete;
    LiveVideo &operator=(const LiveVideo &) = delete;

    // Asks the thread to end after the frame it is taking, if any.
    void stop() { stop_.raise(); }

private:
    AbortSignal stop_;
    std::thread thread_;
};

// Planes R, G, B one after the other as R,G,B triplets, the layout of INDI's
// RGB video frames.
std::vector<std::uint8_t> interleaved(const Image &image);

}  // namespace noctil::indi
