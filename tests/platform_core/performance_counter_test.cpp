// QueryPerformanceCounter on the platform clock: a tick a microsecond, the
// clock's own time, so what the program times with it matches the port's log.
#include <windows.h>

#include "platform_fixture.h"

namespace {

using noctil::test::PlatformTest;

class PerformanceCounterTest : public PlatformTest {};

struct Step {
    std::int64_t advanceMicros;  // the clock moves on this much before the reading
    LONGLONG expectedTicks;      // what the counter reads then, from the session's start
};

TEST_F(PerformanceCounterTest, CountsTheClockInMicroseconds) {
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 1'000'000);
    // clang-format off
    const Step steps[] = {
        {0, 0},
        {1, 1},
        {999, 1'000},
        {2'000'000, 2'001'000},
        {33'367, 2'034'367},
    };
    // clang-format on
    const std::int64_t start = session().clock().now();
    for (const Step &s : steps) {
        session().clock().sleepUntil(session().clock().now() + s.advanceMicros);
        LARGE_INTEGER count{};
        ASSERT_TRUE(QueryPerformanceCounter(&count));
        EXPECT_EQ(count.QuadPart - start, s.expectedTicks) << "after " << s.advanceMicros << " us more";
    }
    EXPECT_FALSE(QueryPerformanceCounter(nullptr));
    EXPECT_FALSE(QueryPerformanceFrequency(nullptr));
}

}  // namespace
