#include "log_match.h"

#include <cstdio>

namespace noctil::convert {

namespace {

// "640x480 RGB24" gives 640 and 480.
bool frameSize(const std::string &format, std::uint32_t &width, std::uint32_t &height) {
    char rest = 0;
    unsigned w = 0, h = 0;
    if (std::sscanf(format.c_str(), "%ux%u%c", &w, &h, &rest) < 2) return false;
    width = w;
    height = h;
    return true;
}

}  // namespace

LogMatch matchLog(std::string_view text, std::size_t images, std::uint32_t width, std::uint32_t height) {
    LogMatch m;
    m.lines.resize(images);
    const auto fail = [&m](std::size_t lineNumber, const std::string &what) {
        m.error = "line " + std::to_string(lineNumber) + ": " + what;
        return m;
    };
    std::size_t lineNumber = 0, expectedImage = 1;
    std::optional<std::string> firstUnreadable;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        ++lineNumber;
        if (end == std::string_view::npos) {
            // A line without its end: the log was being written when the run ended.
            m.warnings.push_back("the log's last line is cut off (the run ended while it was written)");
            break;
        }
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (lineNumber == 1) {
            if (!plat::imagelog::isHeaderLine(line))
                return fail(1, "not an image log: the first line is not the log's column names");
            continue;
        }
        std::string why;
        const std::optional<plat::imagelog::LogLine> parsed = plat::imagelog::parseLine(line, &why);
        if (!parsed) {
            // A line cut short where the disk was full stays a line of its
            // own; the image's whole line follows it. A log of nothing else
            // is no log of this file.
            if (!firstUnreadable) firstUnreadable = "line " + std::to_string(lineNumber) + ": " + why;
            m.warnings.push_back("line " + std::to_string(lineNumber) + " is skipped: " + why);
            continue;
        }
        if (parsed->image != expectedImage)
            return fail(lineNumber, "image " + std::to_string(parsed->image) + " where image " +
                                        std::to_string(expectedImage) + " was expected");
        if (parsed->image > images)
            return fail(lineNumber, "a line for image " + std::to_string(parsed->image) + " but the file holds " +
                                        std::to_string(images) + " images");
        std::uint32_t w = 0, h = 0;
        if (!parsed->format.empty() && frameSize(parsed->format, w, h) && (w != width || h != height))
            return fail(lineNumber, "frames of " + std::to_string(w) + "x" + std::to_string(h) +
                                        " but the file's images are " + std::to_string(width) + "x" +
                                        std::to_string(height));
        m.lines[parsed->image - 1] = *parsed;
        ++expectedImage;
    }
    if (lineNumber == 0) {
        m.error = "the log is empty";
        return m;
    }
    const std::size_t withLines = expectedImage - 1;
    if (withLines == 0 && firstUnreadable) {
        m.error = *firstUnreadable;
        return m;
    }
    // The run ended while lines still waited for room on a full disk (or
    // before the last one was written): the images that have lines keep
    // their times.
    if (withLines + 1 < images)
        m.warnings.push_back("images " + std::to_string(withLines + 1) + " to " + std::to_string(images) +
                             " have no line in the log (the run ended before they were written); they get no times");
    if (withLines + 1 == images)
        m.warnings.push_back("image " + std::to_string(images) + " has no line in the log (the run ended before " +
                             "it was written); it gets no times");
    return m;
}

std::string withKeptLines(std::string log, std::string_view kept) {
    if (kept.empty()) return log;
    if (!log.empty() && log.back() != '\n') log += '\n';
    log += kept;
    return log;
}

}  // namespace noctil::convert
