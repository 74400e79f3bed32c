#include "times.h"

namespace noctil::convert {

namespace {
constexpr std::int64_t kMicrosPerDay = 86'400'000'000;
constexpr std::int64_t kMjdOfUnixEpoch = 40'587;
constexpr std::int64_t kSecondsFromYear1ToUnixEpoch = 62'135'596'800;
}  // namespace

double modifiedJulianDate(std::int64_t utcMicros) {
    // Whole days and the fraction apart, so that the fraction keeps its precision.
    std::int64_t days = utcMicros / kMicrosPerDay, rest = utcMicros % kMicrosPerDay;
    if (rest < 0) {
        rest += kMicrosPerDay;
        --days;
    }
    return double(days + kMjdOfUnixEpoch) + double(rest) / double(kMicrosPerDay);
}

std::int64_t serTicks(std::int64_t utcMicros) { return (utcMicros + kSecondsFromYear1ToUnixEpoch * 1'000'000) * 10; }

}  // namespace noctil::convert
