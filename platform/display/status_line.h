// The status line a display shows under the main window: what the camera's
// port lines are doing and since when, when the window's next timed step is
// due, the images written and the file they go to, and whether that file's
// drive will hold the rest of the run. Composed from what the status line is
// told of the port and the files being written (status_line_feed.h) and from
// the window system (armed timers, titles, menus), so the program knows
// nothing of it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/clock.h"
#include "core/utc.h"

namespace plat::status {

struct PortFacts {
    std::uint8_t value = 0;  // the level the data lines hold now
    Micros since = 0;        // when that level was first written
    std::string lost;        // why the port does not carry it to the camera, "" while it does
};

struct OutputFacts {
    std::string name;                        // the file as the program named it
    std::uint32_t frames = 0;                // images in it
    bool open = true;                        // false: the run has ended, the file is finished
    std::optional<std::uint32_t> limit;      // images the run is to write, when known
    std::optional<std::uint64_t> freeBytes;  // free space on the file's drive
    std::uint64_t frameBytes = 0;            // what one more image takes
    std::uint32_t logLinesWaiting = 0;       // image-log lines waiting for room on the disk
    std::optional<UtcMicros> logCaughtUp;    // when the image log last caught up, in UTC
    std::uint32_t logLinesKept = 0;          // lines the log's end put in the side file beside it
    std::uint32_t suspendedImages = 0;       // images exposed through a system suspend
    std::uint64_t serial = 0;                // the file's serial in the AVI library
    std::uint32_t withoutImage = 0;          // readouts of the run that gave no image
    std::string noImageReason;               // why the latest of them gave none
};

struct Facts {
    Micros now = 0;
    std::optional<PortFacts> port;      // none before the port's first write
    std::optional<Micros> nextStepDue;  // the main window's earliest timer
    std::optional<OutputFacts> output;  // the file of this run or the last one
    bool paused = false;                // the window's menu shows Pause checked
};

struct Line {
    std::string camera;    // the port's lines and the next step
    std::string output;    // the images, their file and its drive; empty before the first run
    std::string text;      // both on one line, as a log or a test reads them
    bool warning = false;  // the drive will not hold the rest of the run, readouts gave no image, or the port is lost
};

Line compose(const Facts &facts);
// The same into `line`, reusing its strings' room: a line refreshed several
// times a second takes no heap block once it has been as long before.
void compose(const Facts &facts, Line &line);

// "12.4 s", "3 min 05 s", "2 h 10 min": how long, for people.
std::string duration(Micros span);
// "512 KB", "3.4 MB", "12.3 GB".
std::string bytes(std::uint64_t count);

// Gathers the facts from the current session (its status::Feed and its
// windows) for a window's status line.
// It remembers the file of a run that has ended, so the line still says
// where the images went, and looks at the drive's free space at most once
// a second of the platform clock or when an image was added.
class Watcher {
public:
    Facts gather(HWND window);
    // The same into `facts`, reusing the room of what they held.
    void gather(HWND window, Facts &facts);

private:
    std::optional<OutputFacts> output_;
    std::filesystem::path path_;
    Micros spaceCheckedAt_ = 0;
};

}  // namespace plat::status
