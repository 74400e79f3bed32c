#include "imagelog/log_format.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <vector>

namespace plat::imagelog {

namespace {

constexpr std::int64_t kMicrosPerDay = 86'400'000'000;
constexpr const char *kNone = "-";
constexpr std::size_t kColumns = 11;
constexpr std::size_t kOlderColumns = 10;  // before the suspension column
constexpr std::size_t kUtcChars = 48;  // room for a time or seconds field

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t &y, unsigned &m, unsigned &d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

// Exactly `digits` decimal digits at `pos`; false otherwise.
bool fixedDigits(std::string_view text, std::size_t pos, std::size_t digits, unsigned &value) {
    if (pos + digits > text.size()) return false;
    value = 0;
    for (std::size_t i = pos; i < pos + digits; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

template <class T>
bool wholeNumber(std::string_view text, T &value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool optionalUtcField(std::string_view text, std::optional<UtcMicros> &out) {
    if (text == kNone) return true;
    out = parseUtc(text);
    return out.has_value();
}

std::size_t formatUtcTo(UtcMicros t, char (&text)[kUtcChars]) {
    std::int64_t days = t / kMicrosPerDay, rest = t % kMicrosPerDay;
    if (rest < 0) {
        rest += kMicrosPerDay;
        --days;
    }
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(days, y, m, d);
    const std::int64_t seconds = rest / 1'000'000;
    const int n =
        std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld.%06lld", static_cast<long long>(y), m,
                      d, static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                      static_cast<long long>(seconds % 60), static_cast<long long>(rest % 1'000'000));
    return n > 0 ? std::min<std::size_t>(std::size_t(n), sizeof text - 1) : 0;
}

std::size_t formatSecondsTo(std::int64_t micros, char (&text)[kUtcChars]) {
    const char *sign = micros < 0 ? "-" : "";
    const std::uint64_t magnitude = micros < 0 ? 0 - static_cast<std::uint64_t>(micros) : micros;
    const int n =
        std::snprintf(text, sizeof text, "%s%llu.%06llu", sign, static_cast<unsigned long long>(magnitude / 1'000'000),
                      static_cast<unsigned long long>(magnitude % 1'000'000));
    return n > 0 ? std::min<std::size_t>(std::size_t(n), sizeof text - 1) : 0;
}

}  // namespace

std::string_view headerLine() {
    return "image\texpose_start_utc\texpose_end_utc\texposure_s\tampoff_s\treadout_first_utc\treadout_last_utc\t"
           "readout_frames\tdriver\tformat\tsuspended_s";
}

bool isHeaderLine(std::string_view text) {
    const std::string_view header = headerLine();
    return text == header || text == header.substr(0, header.rfind('\t'));
}

std::string formatUtc(UtcMicros t) {
    char text[kUtcChars];
    return std::string(text, formatUtcTo(t, text));
}

std::optional<UtcMicros> parseUtc(std::string_view text) {
    // YYYY-MM-DDThh:mm:ss.ffffff, exactly.
    unsigned y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, us = 0;
    if (text.size() != 26 || !fixedDigits(text, 0, 4, y) || text[4] != '-' || !fixedDigits(text, 5, 2, mo) ||
        text[7] != '-' || !fixedDigits(text, 8, 2, d) || text[10] != 'T' || !fixedDigits(text, 11, 2, h) ||
        text[13] != ':' || !fixedDigits(text, 14, 2, mi) || text[16] != ':' || !fixedDigits(text, 17, 2, s) ||
        text[19] != '.' || !fixedDigits(text, 20, 6, us))
        return std::nullopt;
    static constexpr std::array<unsigned, 12> kMonthDays = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || d > kMonthDays[mo - 1] || h > 23 || mi > 59 || s > 59) return std::nullopt;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo == 2 && d == 29 && !leap) return std::nullopt;
    const std::int64_t days = daysFromCivil(y, mo, d);
    return days * kMicrosPerDay + (std::int64_t{h} * 3600 + mi * 60 + s) * 1'000'000 + us;
}

std::string formatSeconds(std::int64_t micros) {
    char text[kUtcChars];
    return std::string(text, formatSecondsTo(micros, text));
}

std::optional<std::int64_t> parseSeconds(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (negative) text.remove_prefix(1);
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos || text.size() - dot - 1 != 6) return std::nullopt;
    std::int64_t whole = 0;
    unsigned fraction = 0;
    if (!wholeNumber(text.substr(0, dot), whole) || whole < 0 || whole > 9'000'000'000'000 ||
        !fixedDigits(text, dot + 1, 6, fraction))
        return std::nullopt;
    const std::int64_t micros = whole * 1'000'000 + fraction;
    return negative ? -micros : micros;
}

std::string formatLine(const LogLine &line) {
    std::string out;
    formatLineInto(line, out);
    return out;
}

void formatLineInto(const LogLine &line, std::string &out) {
    char field[kUtcChars];
    const auto number = [&](std::uint64_t value) {
        const auto end = std::to_chars(field, field + sizeof field, value).ptr;
        out.append(field, end);
    };
    const auto utc = [&](const std::optional<UtcMicros> &t) {
        out += '\t';
        if (t)
            out.append(field, formatUtcTo(*t, field));
        else
            out += kNone;
    };
    const auto seconds = [&](const std::optional<std::int64_t> &micros) {
        out += '\t';
        if (micros)
            out.append(field, formatSecondsTo(*micros, field));
        else
            out += kNone;
    };
    const auto text = [&](const std::string &value) {
        out += '\t';
        if (value.empty()) {
            out += kNone;
            return;
        }
        const std::size_t from = out.size();
        out += value;
        for (std::size_t i = from; i < out.size(); ++i)
            if (out[i] == '\t' || out[i] == '\n' || out[i] == '\r') out[i] = ' ';
    };
    const std::optional<std::int64_t> exposure = line.exposureMicros();
    out.clear();
    number(line.image);
    utc(line.exposeStart);
    utc(line.exposeEnd);
    seconds(exposure);
    seconds(exposure ? std::optional<std::int64_t>(line.ampOffMicros) : std::nullopt);
    utc(line.readoutFirst);
    utc(line.readoutLast);
    out += '\t';
    number(line.readoutFrames);
    text(line.driver);
    text(line.format);
    seconds(exposure ? std::optional<std::int64_t>(line.suspendedMicros) : std::nullopt);
    out += '\n';
}

std::optional<LogLine> parseLine(std::string_view text, std::string *error) {
    const auto fail = [error](const char *what) -> std::optional<LogLine> {
        if (error) *error = what;
        return std::nullopt;
    };
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = text.find('\t', start);
        fields.push_back(text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (fields.size() != kColumns && fields.size() != kOlderColumns)
        return fail("not the log's eleven (or, written earlier, ten) tab-separated columns");
    LogLine line;
    if (!wholeNumber(fields[0], line.image) || line.image == 0) return fail("image number is not a number from 1");
    if (!optionalUtcField(fields[1], line.exposeStart) || !optionalUtcField(fields[2], line.exposeEnd))
        return fail("exposure time is not a UTC time YYYY-MM-DDThh:mm:ss.ffffff or -");
    if (line.exposeStart.has_value() != line.exposeEnd.has_value())
        return fail("exposure has a start without an end or an end without a start");
    if (line.exposeStart) {
        const auto exposure = parseSeconds(fields[3]);
        const auto ampOff = parseSeconds(fields[4]);
        if (!exposure || !ampOff) return fail("exposure or amplifier-off seconds are not seconds with six decimals");
        if (*exposure != *line.exposureMicros()) return fail("exposure seconds disagree with its start and end");
        if (*exposure < 0 || *ampOff < 0 || *ampOff > *exposure)
            return fail("exposure or amplifier-off time out of range");
        line.ampOffMicros = *ampOff;
    } else if (fields[3] != kNone || fields[4] != kNone) {
        return fail("exposure seconds without exposure times");
    }
    if (!optionalUtcField(fields[5], line.readoutFirst) || !optionalUtcField(fields[6], line.readoutLast))
        return fail("readout time is not a UTC time YYYY-MM-DDThh:mm:ss.ffffff or -");
    if (!wholeNumber(fields[7], line.readoutFrames)) return fail("readout frame count is not a number");
    line.driver = fields[8] == kNone ? "" : std::string(fields[8]);
    line.format = fields[9] == kNone ? "" : std::string(fields[9]);
    if (fields.size() == kOlderColumns) return line;
    if (!line.exposeStart) {
        if (fields[10] != kNone) return fail("suspended seconds without exposure times");
        return line;
    }
    const auto suspended = parseSeconds(fields[10]);
    if (!suspended || *suspended < 0 || *suspended > *line.exposureMicros())
        return fail("suspended seconds are not seconds within the exposure");
    line.suspendedMicros = *suspended;
    return line;
}

std::filesystem::path logPathFor(const std::filesystem::path &avi) {
    std::filesystem::path log = avi;
    std::string extension = avi.extension().string();
    const bool capitals = extension.size() > 1 && std::isupper(static_cast<unsigned char>(extension[1]));
    for (char &c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // A file that itself ends in ".log" keeps its name whole: the log must
    // never be the file it describes.
    if (extension == ".log") return log += capitals ? ".LOG" : ".log";
    log.replace_extension(capitals ? ".LOG" : ".log");
    return log;
}

std::filesystem::path waitingPathFor(const std::filesystem::path &log) {
    std::filesystem::path side = log;
    return side += ".waiting";
}

}  // namespace plat::imagelog
