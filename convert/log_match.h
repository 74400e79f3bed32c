// The image log read against the AVI file it claims to describe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imagelog/log_format.h"

namespace noctil::convert {

struct LogMatch {
    // One entry per image of the file: its line, or none.
    std::vector<std::optional<plat::imagelog::LogLine>> lines;
    std::vector<std::string> warnings;
    // Set when the log does not belong to the file; nothing is converted then.
    std::optional<std::string> error;
};

// Reads `text` (the whole log) for a file of `images` images of
// `width` x `height`. A crash or a full disk may have cut a line short or
// left the last images without lines: cut lines are skipped and those
// images get no times, each said in a warning. Anything else that disagrees
// with the file is an error: a first line that is not the log's header, no
// readable line at all where lines are, lines out of order, more lines than
// images, or a frame size other than the file's.
LogMatch matchLog(std::string_view text, std::size_t images, std::uint32_t width, std::uint32_t height);

// The log's text followed by the lines its end kept in the side file
// beside it (plat::imagelog::waitingPathFor): the text matchLog reads. A
// line the log ends in without its line end stays a line of its own.
std::string withKeptLines(std::string log, std::string_view kept);

}  // namespace noctil::convert
