// UTC text of a time by the C library's calendar: an oracle for the image
// log's own formatting.
#pragma once

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace noctil::test {

inline std::string utcTextByCalendar(std::int64_t utcMicros) {
    time_t seconds = static_cast<time_t>(utcMicros / 1'000'000);
    long long micros = utcMicros % 1'000'000;
    if (micros < 0) {
        micros += 1'000'000;
        --seconds;
    }
    tm parts{};
    gmtime_r(&seconds, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lld", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, micros);
    return text;
}

}  // namespace noctil::test
