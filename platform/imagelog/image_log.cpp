#include "imagelog/image_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "core/utc.h"
#include "core/file_users.h"
#include "files/replace_file.h"
#include "files/write_seam.h"

namespace plat::imagelog {

void describeFrameFormatTo(const BITMAPINFOHEADER &f, char (&text)[64]) {
    const long height = f.biHeight < 0 ? -long{f.biHeight} : long{f.biHeight};
    if (f.biCompression == BI_RGB) {
        std::snprintf(text, sizeof text, "%ldx%ld RGB%u", long{f.biWidth}, height, unsigned{f.biBitCount});
    } else {
        char fourcc[5] = {};
        for (int i = 0; i < 4; ++i) {
            const char c = static_cast<char>((f.biCompression >> (8 * i)) & 0xFF);
            fourcc[i] = c >= 0x20 && c < 0x7F ? c : '?';
        }
        std::snprintf(text, sizeof text, "%ldx%ld %s", long{f.biWidth}, height, fourcc);
    }
}

std::string describeFrameFormat(const BITMAPINFOHEADER &f) {
    char text[64];
    describeFrameFormatTo(f, text);
    return text;
}

std::unique_ptr<ImageLog> ImageLog::startBeside(const std::filesystem::path &avi, const Clock &clock) {
    const std::filesystem::path path = logPathFor(avi);
    const int fd = createReplacingFile(path.c_str(), O_APPEND);
    if (fd < 0 && errno == EWOULDBLOCK) {
        // Another program's log: it stays as it is, and names its writer.
        const std::vector<FileUser> writers = fileUsers(path, FileUse::Writing, true);
        std::fprintf(stderr, "image log: %s is not replaced: %s is writing it\n", path.c_str(),
                     writers.empty() ? "another program" : describeUser(writers.front()).c_str());
        return nullptr;
    }
    // The lines an earlier log of that name kept aside are not this one's.
    if (fd >= 0) ::unlink(waitingPathFor(path).c_str());
    if (fd < 0) {
        std::fprintf(stderr, "image log: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<ImageLog> log(new ImageLog(fd, avi, path, clock));
    log->waiting_.assign(headerLine());
    log->waiting_ += '\n';
    log->waitingLines_ = 1;
    log->writeWaiting();
    return log;
}

ImageLog::ImageLog(int fd, std::filesystem::path avi, std::filesystem::path path, const Clock &clock)
    : fd_(fd), avi_(std::move(avi)), path_(std::move(path)), clock_(clock) {}

ImageLog::~ImageLog() {
    if (!finished_) {
        const Leftover left = finish();
        if (left.waiting > 0)
            std::fprintf(stderr, "image log: %u lines could not be written to %s\n", left.waiting,
                         left.sideFile.c_str());
    }
    ::close(fd_);
}

Leftover ImageLog::finish() {
    finished_ = true;
    backlogChanged_.clear();  // whoever follows the backlog is letting the log go
    Leftover left{waitingPathFor(path_), {}, 0, 0};
    if (waitingLines_ > 0) writeWaiting();
    if (waitingLines_ == 0) return left;
    left.lines = std::move(waiting_);
    left.waiting = std::exchange(waitingLines_, 0);
    if (keepAside(left))
        std::fprintf(stderr, "image log: no room for %u lines in %s; they are kept in %s\n", left.kept, path_.c_str(),
                     left.sideFile.c_str());
    else
        std::fprintf(stderr, "image log: no room for %u lines in %s nor in %s; they wait for room\n", left.waiting,
                     path_.c_str(), left.sideFile.c_str());
    return left;
}

bool keepAside(Leftover &left) {
    if (left.waiting == 0) return true;
    const int fd = ::open(left.sideFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat before {};
    const bool sized = ::fstat(fd, &before) == 0;
    std::string_view rest = left.lines;
    while (!rest.empty()) {
        const ssize_t done = ::write(fd, rest.data(), rest.size());
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) break;
        rest.remove_prefix(std::size_t(done));
    }
    // Whole or not at all: a cut line is taken back out.
    if (!rest.empty() && rest.size() != left.lines.size() && sized && ::ftruncate(fd, before.st_size) != 0) {
        // The cut line stays; the lines follow it whole next time, a line of their own.
        left.lines.insert(0, 1, '\n');
    }
    ::close(fd);
    if (!rest.empty()) return false;
    left.kept += left.waiting;
    left.waiting = 0;
    left.lines.clear();
    return true;
}

void ImageLog::imageAppended(const LogLine &line) {
    formatLineInto(line, text_);
    waiting_ += text_;
    ++waitingLines_;
    writeWaiting();
}

void ImageLog::catchUp() {
    if (waitingLines_ > 0) writeWaiting();
}

void ImageLog::writeWaiting() {
    std::size_t done = 0;
    while (waitingLines_ > 0) {
        const std::size_t end = waiting_.find('\n', done);
        const std::string_view line(waiting_.data() + done, end - done + 1);
        if (!writeWhole(line)) {
            behind_ = true;
            caughtUpAt_.reset();
            break;
        }
        done = end + 1;
        --waitingLines_;
    }
    waiting_.erase(0, done);  // keeps its room
    if (waitingLines_ == 0 && behind_) {
        behind_ = false;
        caughtUpAt_ = clock_.now();
    }
    if (!backlogChanged_.empty() && (waitingLines_ != toldWaiting_ || caughtUpAt_ != toldCaughtUpAt_)) {
        toldWaiting_ = waitingLines_;
        toldCaughtUpAt_ = caughtUpAt_;
        backlogChanged_.notify(*this);
    }
}

Subscription ImageLog::onBacklogChange(std::function<void(const ImageLog &)> call) {
    // Every listener has heard the backlog as it is now once this one has.
    toldWaiting_ = waitingLines_;
    toldCaughtUpAt_ = caughtUpAt_;
    if (call) call(*this);
    return backlogChanged_.add(std::move(call));
}

// One write per line where the kernel allows it; interrupted and partial
// writes are continued. A line the disk has no room for is taken back out
// of the file, so the file only ever holds whole lines, and waits.
bool ImageLog::writeWhole(std::string_view text) {
    WriteSeam *seam = writeSeam();
    if (fragmentLeft_) {
        // The cut line stays a line of its own, which a reader skips.
        if (::write(fd_, "\n", 1) != 1) return false;
        fragmentLeft_ = false;
        committed_ += 1;
    }
    std::string_view rest = text;
    while (!rest.empty()) {
        std::size_t n = rest.size();
        if (seam) {
            // A kill due within this text: write up to it, then die there.
            const std::uint64_t budget = seam->bytesBeforeKill(WrittenFile::ImageLog);
            if (budget == 0) ::raise(SIGKILL);
            n = std::size_t(std::min<std::uint64_t>(n, budget));
        }
        const ssize_t done = ::write(fd_, rest.data(), n);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0) {
            if (!told_)
                std::fprintf(stderr, "image log: writing %s failed: %s; the lines wait for room\n", path_.c_str(),
                             std::strerror(errno));
            told_ = true;
            if (rest.size() != text.size() && ::ftruncate(fd_, committed_) != 0) fragmentLeft_ = true;
            return false;
        }
        if (seam) seam->wrote(WrittenFile::ImageLog, std::uint64_t(done));
        rest.remove_prefix(std::size_t(done));
    }
    committed_ += off_t(text.size());
    return true;
}

}  // namespace plat::imagelog
