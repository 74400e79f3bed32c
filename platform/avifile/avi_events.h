// What the AVI library announces about the files the program writes: a file
// opened for writing, its stream opened (the format set, so that images can
// follow), a frame appended to it, the file closed. The library knows
// nothing of who listens; the image log and the status line follow through
// the layer above it (platform/observers/).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string_view>
#include <variant>

#include "core/observer_list.h"

namespace plat::avi {

// Which file an announcement is about: the same value from opening to closing.
using FileId = const void *;

// `file` was created for writing at `path`.
struct FileOpened {
    FileId file;
    const std::filesystem::path &path;
};

// The stream of `file` has its format: the writer has started, images can follow.
struct StreamOpened {
    FileId file;
    std::string_view name;              // the file as the program named it ("C:\\Images.AVI")
    const std::filesystem::path &path;  // where it lies on this machine
    std::uint64_t frameBytes;           // bytes one more image takes, headers and index included
    std::uint64_t serial;               // one number per file opened in the session, never reused
};

// Frame number `frames` (counting from 1) is in `file` now.
struct FrameAppended {
    FileId file;
    std::uint32_t frames;
};

// `file` is being closed; nothing more is written to it.
struct FileClosed {
    FileId file;
};

using FileEvent = std::variant<FileOpened, StreamOpened, FrameAppended, FileClosed>;

// Observers of the session in force, told in the order they subscribed,
// while their subscriptions live.
Subscription subscribe(std::function<void(const FileEvent &)> observer);

}  // namespace plat::avi
