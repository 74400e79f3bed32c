#include "display/status_line_feed.h"

#include <algorithm>

namespace plat::status {

void Feed::portWritten(std::uint8_t value, Micros time, std::string_view lost) {
    // The level has been held since the first of the newest run of writes of it.
    if (!port_ || port_->value != value) port_ = Port{value, time, {}};
    const std::size_t n = std::min(lost.size(), sizeof port_->lost - 1);
    std::copy_n(lost.data(), n, port_->lost);
    port_->lost[n] = '\0';
}

void Feed::streamOpened(FileKey file, std::string_view name, const std::filesystem::path &path,
                        std::uint64_t frameBytes, std::uint64_t serial) {
    File *f = find(file);
    if (!f) f = &files_.emplace_back();
    *f = File{file, std::string(name), path, 0, frameBytes, serial, 0, std::nullopt, 0, 0};
}

void Feed::frameAppended(FileKey file, std::uint32_t frames) {
    if (File *f = find(file)) f->frames = frames;
}

void Feed::logBacklog(FileKey file, std::uint32_t linesWaiting, std::optional<Micros> caughtUp, std::uint32_t kept) {
    File *f = find(file);
    if (!f && lastClosed_ && lastClosed_->key == file) f = &*lastClosed_;
    if (!f) return;
    f->logLinesWaiting = linesWaiting;
    f->logCaughtUp = caughtUp;
    f->logLinesKept = kept;
}

void Feed::imageOverSuspend(FileKey file) {
    if (File *f = find(file)) ++f->suspendedImages;
}

void Feed::fileClosed(FileKey file) {
    if (const File *f = find(file)) lastClosed_ = *f;
    std::erase_if(files_, [file](const File &f) { return f.key == file; });
}

void Feed::readoutsWithoutImage(std::uint64_t run, std::uint32_t count, std::string_view reason) {
    readouts_.run = run;
    readouts_.withoutImage = count;
    const std::size_t n = std::min(reason.size(), sizeof readouts_.reason - 1);
    std::copy_n(reason.data(), n, readouts_.reason);
    readouts_.reason[n] = '\0';
}

const Feed::File *Feed::newestFile() const {
    const File *newest = nullptr;
    for (const File &f : files_)
        if (!newest || f.serial > newest->serial) newest = &f;
    return newest;
}

Feed::File *Feed::find(FileKey file) {
    for (File &f : files_)
        if (f.key == file) return &f;
    return nullptr;
}

}  // namespace plat::status
