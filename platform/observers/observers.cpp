#include "observers/observers.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "avicap/stream_record.h"
#include "avifile/avi_events.h"
#include "core/hooks.h"
#include "core/observer_list.h"
#include "core/session.h"
#include "display/status_line_feed.h"
#include "imagelog/image_log.h"
#include "port/port_events.h"

namespace plat::observers {

namespace {

// Starts an image log beside every file the AVI library creates for
// writing, with the file's first image, so that a file that never gets one
// leaves an earlier log of that name as it was; writes its line after each
// frame and closes it with the file.
class ImageLogFollower {
public:
    ImageLogFollower() : files_(avi::subscribe([this](const avi::FileEvent &e) { std::visit(*this, e); })) {}
    ImageLogFollower(const ImageLogFollower &) = delete;
    ImageLogFollower &operator=(const ImageLogFollower &) = delete;

    void operator()(const avi::FileOpened &e) { followed_.push_back({e.file, e.path, nullptr, {}, false}); }
    void operator()(const avi::StreamOpened &) {}
    void operator()(const avi::FrameAppended &e) {
        for (Followed &f : followed_) {
            if (f.file != e.file) continue;
            if (!f.log && !f.logTried) {
                f.logTried = true;  // a log that cannot start is told once, and the images go on
                f.log = imagelog::ImageLog::startBeside(f.avi);
                // The status line tells of lines that wait for room on the disk.
                if (f.log)
                    f.backlog = f.log->onBacklogChange([file = e.file](const imagelog::ImageLog &log) {
                        session().component<status::Feed>().logBacklog(file, log.linesWaiting(), log.caughtUpAt());
                    });
            }
            if (f.log) f.log->imageAppended(e.frames);
        }
    }
    void operator()(const avi::FileClosed &e) {
        std::erase_if(followed_, [file = e.file](const Followed &f) { return f.file == file; });
    }

private:
    struct Followed {
        avi::FileId file;
        std::filesystem::path avi;
        std::unique_ptr<imagelog::ImageLog> log;
        Subscription backlog;
        bool logTried = false;
    };
    std::vector<Followed> followed_;
    Subscription files_;
};

// Tells the status line (display/status_line_feed.h) what the port, the AVI
// library and the capture window announce.
class StatusLineFollower {
public:
    StatusLineFollower()
        : feed_(session().component<status::Feed>()),
          files_(avi::subscribe([this](const avi::FileEvent &e) { std::visit(*this, e); })),
          port_(subscribeToPortWrites([this](const PortWrite &w) {
              if (w.address == ParallelPort::kDataRegister) feed_.portWritten(w.value, w.time);
          })),
          tally_(session().component<avicap::StreamRecords>().onTallyChange([this](const avicap::ReadoutTally &t) {
              feed_.readoutsWithoutImage(t.run, t.withoutImage, t.reason);
          })) {}
    StatusLineFollower(const StatusLineFollower &) = delete;
    StatusLineFollower &operator=(const StatusLineFollower &) = delete;

    void operator()(const avi::FileOpened &) {}
    void operator()(const avi::StreamOpened &e) { feed_.streamOpened(e.file, e.name, e.path, e.frameBytes, e.serial); }
    void operator()(const avi::FrameAppended &e) { feed_.frameAppended(e.file, e.frames); }
    void operator()(const avi::FileClosed &e) { feed_.fileClosed(e.file); }

private:
    status::Feed &feed_;
    Subscription files_, port_, tally_;
};

void attach(Session &session) {
    session.component<ImageLogFollower>();
    session.component<StatusLineFollower>();
}

}  // namespace

void install() { addSessionStartHook(&attach); }

}  // namespace plat::observers
