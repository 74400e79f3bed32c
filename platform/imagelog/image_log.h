// The image log: a text file beside an output AVI file with one line per
// image appended to it, telling when the camera port entered and left the
// exposure level, how long the amplifier was off, when the readout frames
// were captured, and through which driver in which frame format.
//
// The layer above the AVI library (platform/observers/) starts one for every
// file the library creates for writing and has it write a line after each
// frame the library appends. Each line goes to the
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
#include <span>
#include <string>
#include <string_view>

#include "avicap/stream_record.h"
#include "core/clock.h"
#include "core/observer_list.h"
#include "imagelog/log_format.h"
#include "port/parallel_port.h"
#include "port/port_exposure.h"

namespace plat::imagelog {

// The exposure the port's log shows (port/port_exposure.h).
using plat::lastExposure;
using plat::PortExposure;

// "640x480 RGB24", "720x576 YUY2".
std::string describeFrameFormat(const BITMAPINFOHEADER &format);

// The line of image `image`: its exposure from the port's writes, its
// readout from the last stream without a file, times in UTC by `utcOffset`.
LogLine composeLine(std::uint32_t image, std::span<const PortWrite> writes, const avicap::StreamRecord &readout,
                    UtcMicros utcOffset);
// The same into `line`, whose texts keep their room.
void composeLineInto(std::uint32_t image, std::span<const PortWrite> writes, const avicap::StreamRecord &readout,
                     UtcMicros utcOffset, LogLine &line);

class ImageLog {
public:
    // A new log beside `avi` (replacing one of that name) with its header
    // line; null when it cannot be written, which is said on stderr.
    static std::unique_ptr<ImageLog> startBeside(const std::filesystem::path &avi);
    ~ImageLog();
    ImageLog(const ImageLog &) = delete;
    ImageLog &operator=(const ImageLog &) = delete;

    // Image `image` (counting from 1) is in the file now: writes its line.
    void imageAppended(std::uint32_t image);

    // Lines that could not be written whole (the disk was full) and wait,
    // whole, for room: they go to the file, in order, at the next port
    // write, the next image or the log's end, whichever finds room first.
    std::uint32_t linesWaiting() const { return waitingLines_; }
    // When the last lines that waited went to the file; none while lines
    // wait or when none ever had to.
    std::optional<Micros> caughtUpAt() const { return caughtUpAt_; }
    const std::filesystem::path &avi() const { return avi_; }
    // Calls `call` now and, while the subscription lives, whenever
    // linesWaiting() or caughtUpAt() change (not from the log's end): what a
    // display tells of the backlog.
    Subscription onBacklogChange(std::function<void(const ImageLog &)> call);

private:
    ImageLog(int fd, std::filesystem::path avi, std::filesystem::path path);
    // Writes the waiting lines, each whole or not at all.
    void writeWaiting();
    bool writeWhole(std::string_view text);

    int fd_;
    std::filesystem::path avi_;  // the file whose images it logs
    std::filesystem::path path_;
    Subscription portListener_;
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
    // The line being written and its text, reused for every image.
    LogLine line_;
    std::string text_;
};

}  // namespace plat::imagelog
