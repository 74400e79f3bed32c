#include "observers/image_log_follower.h"

#include <algorithm>
#include <cstdio>
#include <variant>

#include "avicap/stream_record.h"
#include "core/session.h"
#include "core/utc.h"
#include "display/status_line_feed.h"
#include "observers/image_facts.h"
#include "port/parallel_port.h"
#include "port/port_events.h"

namespace plat::observers {

namespace {

// What the status line is told of a log's backlog.
void tellBacklog(avi::FileId file, std::uint32_t waiting, std::optional<Micros> caughtUp, std::uint32_t kept = 0) {
    session().component<status::Feed>().logBacklog(file, waiting, caughtUp, kept);
}

}  // namespace

ImageLogFollower::ImageLogFollower()
    : files_(avi::subscribe([this](const avi::FileEvent &e) { std::visit(*this, e); })),
      portWrites_(subscribeToPortWrites([this](const PortWrite &) { keepLeftAside(); })) {}

void ImageLogFollower::keepLeftAside() {
    std::erase_if(left_, [](Left &l) {
        if (!imagelog::keepAside(l.lines)) return false;
        tellBacklog(l.file, 0, std::nullopt, l.lines.kept);
        return true;
    });
}

void ImageLogFollower::operator()(const avi::FileOpened &e) {
    followed_.push_back({e.file, e.path, nullptr, {}, {}, false, {}});
}

void ImageLogFollower::operator()(const avi::FrameAppended &e) {
    keepLeftAside();
    for (Followed &f : followed_) {
        if (f.file != e.file) continue;
        if (!f.log && !f.logTried) {
            f.logTried = true;  // a log that cannot start is told once, and the images go on
            start(f);
        }
        if (!f.log) continue;
        Session &s = session();
        composeLineInto(e.frames, s.component<ParallelPort>().writes(),
                        s.component<avicap::StreamRecords>().last(false), utcOffset(s.clock()), f.line);
        f.log->imageAppended(f.line);
        if (f.line.suspendedMicros > 0) tellSuspended(f);
    }
}

void ImageLogFollower::operator()(const avi::FileClosed &e) {
    for (Followed &f : followed_) {
        if (f.file != e.file || !f.log) continue;
        f.backlog.reset();
        imagelog::Leftover left = f.log->finish();
        tellBacklog(f.file, left.waiting, f.log->caughtUpAt(), left.kept);
        if (left.waiting > 0) left_.push_back({f.file, std::move(left)});
    }
    std::erase_if(followed_, [file = e.file](const Followed &f) { return f.file == file; });
}

// The camera integrated while the system slept: the image is longer than
// set. Told on standard error and the status line; the log's line has it.
void ImageLogFollower::tellSuspended(const Followed &f) {
    std::fprintf(stderr,
                 "image log: image %u of %s was exposed through a system suspend of %.1f s; its exposure counts it\n",
                 unsigned{f.line.image}, f.avi.c_str(), double(f.line.suspendedMicros) / 1e6);
    session().component<status::Feed>().imageOverSuspend(f.file);
}

void ImageLogFollower::start(Followed &f) {
    Session &s = session();
    f.log = imagelog::ImageLog::startBeside(f.avi, s.clock());
    if (!f.log) return;
    // Lines left by an earlier log of that name are not this one's.
    std::erase_if(left_, [side = imagelog::waitingPathFor(imagelog::logPathFor(f.avi))](const Left &l) {
        return l.lines.sideFile == side;
    });
    imagelog::ImageLog *log = f.log.get();
    // A port write comes at every step of the cycle: a chance to write what
    // waits as soon as the disk has room again.
    f.portWrites = s.component<ParallelPort>().subscribe([log](const PortWrite &) { log->catchUp(); });
    // The status line tells of lines that wait for room on the disk.
    f.backlog = log->onBacklogChange(
        [file = f.file](const imagelog::ImageLog &l) { tellBacklog(file, l.linesWaiting(), l.caughtUpAt()); });
}

}  // namespace plat::observers
