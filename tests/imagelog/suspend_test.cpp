// An exposure while the system sleeps: the virtual clock simulates the
// suspension (it stands still, as the monotonic clock does). The image's
// line counts the suspension in its exposure, maps its start to the UTC it
// really had, and says how long the system slept; the status line is told.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "core/clock.h"
#include "core/utc.h"
#include "display/status_line_feed.h"
#include "imagelog/log_format.h"
#include "observers/image_log_follower.h"
#include "platform_fixture.h"
#include "port/parallel_port.h"

namespace noctil::test {
namespace {

using SuspendedExposure = PlatformTest;

constexpr plat::Micros kSecond = 1'000'000;

// The log's line of its last image.
std::optional<plat::imagelog::LogLine> lastLine(const std::filesystem::path &log) {
    std::ifstream in(log, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    const std::size_t end = text.rfind('\n');
    if (end == std::string::npos || end == 0) return std::nullopt;
    const std::size_t begin = text.rfind('\n', end - 1) + 1;
    return plat::imagelog::parseLine(std::string_view(text).substr(begin, end - begin));
}

TEST_F(SuspendedExposure, TheLineCountsTheSuspensionAndTheStatusLineIsTold) {
    const struct {
        const char *what;
        plat::Micros before, during, after;  // suspensions around and within a 2 s exposure
        plat::Micros exposure, suspended;
        std::uint32_t toldImages;            // images the status line has heard of, so far
    } cases[] = {
        {"no suspension", 0, 0, 0, 2 * kSecond, 0, 0},
        {"a suspension of a minute within it", 0, 60 * kSecond, 0, 62 * kSecond, 60 * kSecond, 1},
        {"suspended before it and after it", 30 * kSecond, 0, 40 * kSecond, 2 * kSecond, 0, 1},
        {"a suspension shorter than the clocks' noise", 0, 500, 0, 2 * kSecond, 0, 1},
    };
    ASSERT_TRUE(session().clock().isVirtual());
    auto &clock = static_cast<plat::VirtualClock &>(session().clock());
    auto &follower = session().component<plat::observers::ImageLogFollower>();
    auto &feed = session().component<plat::status::Feed>();
    auto &port = session().component<plat::ParallelPort>();
    const std::filesystem::path avi = root() / "asleep.avi";
    const int file = 0;
    follower(plat::avi::FileOpened{&file, avi});
    feed.streamOpened(&file, "C:\\asleep.avi", avi, 100, 1);
    std::uint32_t image = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        clock.suspendFor(c.before);
        const plat::UtcMicros startUtc = clock.now() + plat::utcOffset(clock);
        port.write(plat::ParallelPort::kDataRegister, 0x0B);
        clock.sleepUntil(clock.now() + kSecond);
        clock.suspendFor(c.during);
        clock.sleepUntil(clock.now() + kSecond);
        port.write(plat::ParallelPort::kDataRegister, 0x08);
        const plat::UtcMicros endUtc = clock.now() + plat::utcOffset(clock);
        port.write(plat::ParallelPort::kDataRegister, 0x00);
        follower(plat::avi::FrameAppended{&file, ++image});
        const auto line = lastLine(plat::imagelog::logPathFor(avi));
        ASSERT_TRUE(line);
        EXPECT_EQ(line->image, image);
        EXPECT_EQ(line->exposureMicros(), std::optional<plat::Micros>(c.exposure));
        EXPECT_EQ(line->suspendedMicros, c.suspended);
        // Below the noise the exposure keeps the clock's own start.
        EXPECT_EQ(line->exposeStart, std::optional<plat::UtcMicros>(startUtc + c.during - c.suspended));
        EXPECT_EQ(line->exposeEnd, std::optional<plat::UtcMicros>(endUtc));
        EXPECT_EQ(feed.newestFile()->suspendedImages, c.toldImages);
        clock.suspendFor(c.after);  // the next exposure does not count it
    }
    follower(plat::avi::FileClosed{&file});
}

}  // namespace
}  // namespace noctil::test
