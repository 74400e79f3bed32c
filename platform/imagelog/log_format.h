// The image log's text: one header line of column names, then one line per
// image, columns separated by tabs. docs/image-log.md describes the columns.
// Shared by the platform, which writes the log, and the converter, which
// reads it; nothing here touches a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace plat::imagelog {

// Microseconds since 1970-01-01T00:00:00 UTC.
using UtcMicros = std::int64_t;

struct LogLine {
    std::uint32_t image = 0;  // position in the AVI file, counting from 1
    // When the port entered and left the exposure level; unknown when the
    // port log no longer held the exposure.
    std::optional<UtcMicros> exposeStart, exposeEnd;
    std::int64_t ampOffMicros = 0;  // time within the exposure with the amplifier off
    // Capture times of the first and last frame of the readout stream, and
    // how many frames it delivered; unknown when no readout stream was seen.
    std::optional<UtcMicros> readoutFirst, readoutLast;
    std::uint32_t readoutFrames = 0;
    std::string driver;  // the capture driver's description
    std::string format;  // the driver's frame format, such as "640x480 RGB24"
    // How long the system was suspended during the exposure (counted in it);
    // 0 in the lines of logs written before the log had the column.
    std::int64_t suspendedMicros = 0;

    std::optional<std::int64_t> exposureMicros() const {
        if (!exposeStart || !exposeEnd) return std::nullopt;
        return *exposeEnd - *exposeStart;
    }
};

// The header line, without its line end.
std::string_view headerLine();
// `text` is the header line of this log or of one written before the
// suspension column (whose lines have no such column).
bool isHeaderLine(std::string_view text);

// One line, ending in "\n". Tabs and line ends in the texts become spaces.
std::string formatLine(const LogLine &line);
// The same into `out`, replacing what it held; `out` keeps its room, so a
// log that formats every line into one string allocates nothing per line.
void formatLineInto(const LogLine &line, std::string &out);
// A line without its line end; nullopt when it is not a well-formed line.
// `error` then says what is wrong with it.
std::optional<LogLine> parseLine(std::string_view text, std::string *error = nullptr);

// "2000-01-01T00:00:02.600000": ISO 8601 with microseconds, no zone letter
// (as FITS writes its dates).
std::string formatUtc(UtcMicros t);
std::optional<UtcMicros> parseUtc(std::string_view text);

// "2.000000": seconds with six decimals.
std::string formatSeconds(std::int64_t micros);
std::optional<std::int64_t> parseSeconds(std::string_view text);

// The log beside an output file: the same name with the extension ".log"
// (".LOG" when the file's extension is written in capitals); a file whose
// extension is already ".log" gets ".log" added.
std::filesystem::path logPathFor(const std::filesystem::path &avi);
// The side file beside a log ("M42_003.LOG.waiting"): the log's lines that
// found no room on the disk when the log ended, without a header line.
std::filesystem::path waitingPathFor(const std::filesystem::path &log);

}  // namespace plat::imagelog
