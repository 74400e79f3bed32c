#include "live_video.h"

namespace noctil::indi {

LiveVideo::LiveVideo(plat::Clock &clock, plat::Micros interval, std::function<void()> frame)
    : thread_([this, &clock, interval, frame = std::move(frame)] {
          plat::Micros next = clock.now();
          // Frames stay on their grid: a late one does not push the next.
          while (!stop_.waitUntil(clock, next)) {
              frame();
              next += interval;
          }
      }) {}

LiveVideo::~LiveVideo() {
    stop_.raise();
    thread_.join();
}

std::vector<std::uint8_t> interleaved(const Image &image) {
    const std::size_t pixels = std::size_t(image.width) * std::size_t(image.height);
    std::vector<std::uint8_t> rgb(pixels * 3);
    for (std::size_t i = 0; i < pixels; ++i)
        for (std::size_t c = 0; c < 3; ++c) rgb[3 * i + c] = image.samples[c * pixels + i];
    return rgb;
}

}  // namespace noctil::indi
