// Live video's thread: frames on a steady grid of the clock, none after it
// has been stopped; colour planes as INDI's RGB video frames lay them out.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "live_video.h"

namespace noctil::indi {
namespace {

TEST(LiveVideo, FramesOnTheClocksGridUntilStopped) {
    plat::VirtualClock clock;
    std::mutex mutex;
    std::condition_variable taken;
    std::vector<plat::Micros> times;
    auto live = std::make_unique<LiveVideo>(clock, 40'000, [&] {
        std::lock_guard lock(mutex);
        times.push_back(clock.now());
        taken.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(taken.wait_for(lock, std::chrono::seconds(10), [&] { return times.size() >= 5; }));
    }
    live.reset();
    const std::size_t made = times.size();
    for (std::size_t i = 0; i < made; ++i) EXPECT_EQ(times[i], plat::Micros(i) * 40'000) << "frame " << i;
    // The stop ended the wait for the next frame at the latest.
    EXPECT_LE(clock.now(), plat::Micros(made) * 40'000);
}

struct InterleaveCase {
    const char *what;
    int width, height;
    std::vector<std::uint8_t> planes;  // R, G, B one after the other
    std::vector<std::uint8_t> rgb;
};

TEST(LiveVideo, ColourPlanesBecomeTriplets) {
    // clang-format off
    const std::vector<InterleaveCase> cases = {
        {"one pixel",  1, 1, {1, 2, 3},                {1, 2, 3}},
        {"two pixels", 2, 1, {1, 4, 2, 5, 3, 6},       {1, 2, 3, 4, 5, 6}},
        {"a column",   1, 2, {10, 11, 20, 21, 30, 31}, {10, 20, 30, 11, 21, 31}},
    };
    // clang-format on
    for (const InterleaveCase &c : cases) {
        Image image;
        image.width = c.width;
        image.height = c.height;
        image.planes = 3;
        image.samples = c.planes;
        EXPECT_EQ(interleaved(image), c.rgb) << c.what;
    }
}

}  // namespace
}  // namespace noctil::indi
