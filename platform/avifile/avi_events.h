// What the AVI library announces about the files the program writes: a file
// opened for writing, its stream opened (the format set, so that images can
// follow), a frame appended to it, the file closed. The library knows
// nothing of who listens; the image log and the status line follow through
// the layer above it (platform/observers/).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace plat::avi {

// Which file an announcement is about: the same value from opening to closing.
using FileId = const void *;

// A file's stream, once its format is set.
struct StreamOpened {
    std::string_view name;              // the file as the program named it ("C:\\Images.AVI")
    const std::filesystem::path &path;  // where it lies on this machine
    std::uint64_t frameBytes;           // bytes one more image takes, headers and index included
    std::uint64_t serial;               // one number per file opened in the session, never reused
};

class FileObserver {
public:
    virtual ~FileObserver() = default;
    // `file` was created for writing at `path`.
    virtual void fileOpened(FileId file, const std::filesystem::path &path) = 0;
    // The stream of `file` has its format: the writer has started.
    virtual void streamOpened(FileId file, const StreamOpened &stream) = 0;
    // Frame number `frames` (counting from 1) is in `file` now.
    virtual void frameAppended(FileId file, std::uint32_t frames) = 0;
    // `file` is being closed; nothing more is written to it.
    virtual void fileClosed(FileId file) = 0;
};

// Observers of the session in force, told in the order they subscribed.
void subscribe(FileObserver &observer);
void unsubscribe(FileObserver &observer);

}  // namespace plat::avi
