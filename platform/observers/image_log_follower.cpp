#include "observers/image_log_follower.h"

#include <algorithm>
#include <variant>

#include "avicap/stream_record.h"
#include "core/session.h"
#include "core/utc.h"
#include "display/status_line_feed.h"
#include "observers/image_facts.h"
#include "port/parallel_port.h"

namespace plat::observers {

ImageLogFollower::ImageLogFollower()
    : files_(avi::subscribe([this](const avi::FileEvent &e) { std::visit(*this, e); })) {}

void ImageLogFollower::operator()(const avi::FileOpened &e) {
    followed_.push_back({e.file, e.path, nullptr, {}, {}, false, {}});
}

void ImageLogFollower::operator()(const avi::FrameAppended &e) {
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
    }
}

void ImageLogFollower::operator()(const avi::FileClosed &e) {
    std::erase_if(followed_, [file = e.file](const Followed &f) { return f.file == file; });
}

void ImageLogFollower::start(Followed &f) {
    Session &s = session();
    f.log = imagelog::ImageLog::startBeside(f.avi, s.clock());
    if (!f.log) return;
    imagelog::ImageLog *log = f.log.get();
    // A port write comes at every step of the cycle: a chance to write what
    // waits as soon as the disk has room again.
    f.portWrites = s.component<ParallelPort>().subscribe([log](const PortWrite &) { log->catchUp(); });
    // The status line tells of lines that wait for room on the disk.
    f.backlog = log->onBacklogChange([file = f.file](const imagelog::ImageLog &l) {
        session().component<status::Feed>().logBacklog(file, l.linesWaiting(), l.caughtUpAt());
    });
}

}  // namespace plat::observers
