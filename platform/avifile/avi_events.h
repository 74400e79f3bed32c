// What the AVI library announces about the files the program writes: a file
// opened for writing, a frame appended to it, the file closed. The library
// knows nothing of who listens; the image log follows through the layer
// above it (platform/observers/).
#pragma once

#include <cstdint>
#include <filesystem>

namespace plat::avi {

// Which file an announcement is about: the same value from opening to closing.
using FileId = const void *;

class FileObserver {
public:
    virtual ~FileObserver() = default;
    // `file` was created for writing at `path`.
    virtual void fileOpened(FileId file, const std::filesystem::path &path) = 0;
    // Frame number `frames` (counting from 1) is in `file` now.
    virtual void frameAppended(FileId file, std::uint32_t frames) = 0;
    // `file` is being closed; nothing more is written to it.
    virtual void fileClosed(FileId file) = 0;
};

// Observers of the session in force, told in the order they subscribed.
void subscribe(FileObserver &observer);
void unsubscribe(FileObserver &observer);

}  // namespace plat::avi
