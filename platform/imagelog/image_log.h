// The image log: a text file beside an output AVI file with one line per
// image appended to it, telling when the camera port entered and left the
// exposure level, how long the amplifier was off, when the readout frames
// were captured, and through which driver in which frame format.
//
// The layer above the AVI library (platform/observers/) starts one for every
// file the library creates for writing and hands it the line of each frame
// the library appends, composed from the port's writes and the capture
// window's stream records: the log knows neither. Each line goes to the
// kernel in one write as soon as its image is in the file, so a crash loses
// at most the line being written.
#pragma once

#include <sys/types.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/observer_list.h"
#include "imagelog/log_format.h"

namespace plat::imagelog {

// "640x480 RGB24", "720x576 YUY2".
std::string describeFrameFormat(const BITMAPINFOHEADER &format);
// The same into `text`, without allocating.
void describeFrameFormatTo(const BITMAPINFOHEADER &format, char (&text)[64]);

// What a log's end left of the lines that waited for room on the disk:
// those still in memory go to the side file beside the log (keepAside)
// once there is room for them.
struct Leftover {
    std::filesystem::path sideFile;  // waitingPathFor(the log)
    std::string lines;               // whole lines not yet in the side file
    std::uint32_t waiting = 0;       // how many
    std::uint32_t kept = 0;          // lines in the side file
};
// Appends the leftover lines to the side file, whole or not at all; true
// when none are left in memory.
bool keepAside(Leftover &left);

class ImageLog {
public:
    // A new log beside `avi` (replacing one of that name) with its header
    // line, telling when it caught up by `clock`; null when it cannot be
    // written, which is said on stderr. A log another program is writing is
    // never replaced (files/replace_file.h).
    static std::unique_ptr<ImageLog> startBeside(const std::filesystem::path &avi, const Clock &clock);
    ~ImageLog();
    ImageLog(const ImageLog &) = delete;
    ImageLog &operator=(const ImageLog &) = delete;

    // The image of `line` is in the file now: writes its line.
    void imageAppended(const LogLine &line);
    // Writes the lines that wait, if any: the layer above calls it at each
    // port write, a step of the cycle that comes often.
    void catchUp();

    // Lines that could not be written whole (the disk was full) and wait,
    // whole, for room: they go to the file, in order, at the next catchUp
    // (a port write), the next image or the log's end, whichever finds room
    // first.
    std::uint32_t linesWaiting() const { return waitingLines_; }
    // When the last lines that waited went to the file; none while lines
    // wait or when none ever had to.
    std::optional<Micros> caughtUpAt() const { return caughtUpAt_; }
    const std::filesystem::path &avi() const { return avi_; }
    // The log's end: the lines that wait are tried once more, and those that
    // still find no room go to the side file beside the log, or stay in the
    // leftover where even that has none. The followers of the backlog hear
    // no more. Once only; the destructor finishes a log not finished.
    Leftover finish();
    // Calls `call` now and, while the subscription lives, whenever
    // linesWaiting() or caughtUpAt() change (not from the log's end): what a
    // display tells of the backlog.
    Subscription onBacklogChange(std::function<void(const ImageLog &)> call);

private:
    ImageLog(int fd, std::filesystem::path avi, std::filesystem::path path, const Clock &clock);
    // Writes the waiting lines, each whole or not at all.
    void writeWaiting();
    bool writeWhole(std::string_view text);

    int fd_;
    std::filesystem::path avi_;  // the file whose images it logs
    std::filesystem::path path_;
    const Clock &clock_;
    bool finished_ = false;
    bool told_ = false;          // standard error has heard of the first failure
    bool fragmentLeft_ = false;  // a cut line could not be taken back out
    bool behind_ = false;        // lines wait since a write failed
    off_t committed_ = 0;        // the file's length after its last whole line
    std::string waiting_;        // whole lines, each with its line end
    std::uint32_t waitingLines_ = 0;
    std::optional<Micros> caughtUpAt_;
    ObserverList<const ImageLog &> backlogChanged_;
    std::uint32_t toldWaiting_ = 0;  // the backlog as last told
    std::optional<Micros> toldCaughtUpAt_;
    // The text of the line being written, reused for every image.
    std::string text_;
};

}  // namespace plat::imagelog
