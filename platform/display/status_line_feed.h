// What the status line is told of the port, the files being written, their
// image logs and the readouts that gave no image: a session component that
// the layer above the port, the AVI library, the capture window and the
// image log keeps up to date from their announcements (platform/observers/),
// so that the status line's own library reaches into none of them. Being
// told takes no heap block once a file is open.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"

namespace plat::status {

class Feed {
public:
    // Which file a report is about: the same value from opening to closing.
    using FileKey = const void *;

    struct Port {
        std::uint8_t value = 0;  // the level the data lines hold now
        Micros since = 0;        // when that level was first written
        char lost[160] = {};     // why the port does not carry it, "" while it does
    };
    struct File {
        FileKey key = nullptr;
        std::string name;                   // as the program named it
        std::filesystem::path path;         // where it lies on this machine
        std::uint32_t frames = 0;           // images appended so far
        std::uint64_t frameBytes = 0;       // what one more image takes
        std::uint64_t serial = 0;           // tells a file from an earlier one of the same name
        std::uint32_t logLinesWaiting = 0;  // its image log's lines waiting for room on the disk
        std::optional<Micros> logCaughtUp;  // when that log last caught up
        std::uint32_t logLinesKept = 0;     // lines its end put in the side file beside it
        std::uint32_t suspendedImages = 0;  // images whose exposure went on through a system suspend
    };
    struct Readouts {
        std::uint64_t run = 0;  // the serial of the file written while they came
        std::uint32_t withoutImage = 0;
        char reason[160] = {};  // why the latest of them gave none
    };

    // The data lines were written `value` at `time`; `lost` says why the
    // port did not carry it ("" when it did).
    void portWritten(std::uint8_t value, Micros time, std::string_view lost = {});
    // A file's stream has its format: images can be appended now.
    void streamOpened(FileKey file, std::string_view name, const std::filesystem::path &path, std::uint64_t frameBytes,
                      std::uint64_t serial);
    void frameAppended(FileKey file, std::uint32_t frames);
    // Also of the file closed last: a log's end tells what it left.
    void logBacklog(FileKey file, std::uint32_t linesWaiting, std::optional<Micros> caughtUp, std::uint32_t kept = 0);
    // An image of `file` was exposed while the system was suspended.
    void imageOverSuspend(FileKey file);
    void fileClosed(FileKey file);
    void readoutsWithoutImage(std::uint64_t run, std::uint32_t count, std::string_view reason);

    // None before the port's first write to the data lines.
    const std::optional<Port> &port() const { return port_; }
    // The newest file whose stream is open, if any.
    const File *newestFile() const;
    // The file closed last, with the images it ended with (none before a
    // file has closed): its last images may come after the line's last look
    // at it, in the same turn of the loop as the Stop that closes it.
    const std::optional<File> &lastClosed() const { return lastClosed_; }
    const Readouts &readouts() const { return readouts_; }

private:
    File *find(FileKey file);

    std::optional<Port> port_;
    std::vector<File> files_;
    std::optional<File> lastClosed_;
    Readouts readouts_;
};

}  // namespace plat::status
