#include "observers/observers.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "avicap/stream_record.h"
#include "avifile/avi_events.h"
#include "core/hooks.h"
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
class ImageLogFollower final : public avi::FileObserver {
public:
    ImageLogFollower() { avi::subscribe(*this); }
    ~ImageLogFollower() override { avi::unsubscribe(*this); }
    ImageLogFollower(const ImageLogFollower &) = delete;
    ImageLogFollower &operator=(const ImageLogFollower &) = delete;

    void fileOpened(avi::FileId file, const std::filesystem::path &path) override {
        files_.push_back({file, path, nullptr, false});
    }
    void streamOpened(avi::FileId, const avi::StreamOpened &) override {}
    void frameAppended(avi::FileId file, std::uint32_t frames) override {
        for (Followed &f : files_) {
            if (f.file != file) continue;
            if (!f.log && !f.logTried) {
                f.logTried = true;  // a log that cannot start is told once, and the images go on
                f.log = imagelog::ImageLog::startBeside(f.avi);
                // The status line tells of lines that wait for room on the disk.
                if (f.log)
                    f.log->onBacklogChange([file](const imagelog::ImageLog &log) {
                        session().component<status::Feed>().logBacklog(file, log.linesWaiting(), log.caughtUpAt());
                    });
            }
            if (f.log) f.log->imageAppended(frames);
        }
    }
    void fileClosed(avi::FileId file) override {
        std::erase_if(files_, [file](const Followed &f) { return f.file == file; });
    }

private:
    struct Followed {
        avi::FileId file;
        std::filesystem::path avi;
        std::unique_ptr<imagelog::ImageLog> log;
        bool logTried = false;
    };
    std::vector<Followed> files_;
};

// Tells the status line (display/status_line_feed.h) what the port, the AVI
// library and the capture window announce.
class StatusLineFollower final : public avi::FileObserver, public PortObserver {
public:
    StatusLineFollower() : feed_(session().component<status::Feed>()) {
        avi::subscribe(*this);
        subscribeToPortWrites(*this);
        session().component<avicap::StreamRecords>().onTallyChange([this](const avicap::ReadoutTally &tally) {
            feed_.readoutsWithoutImage(tally.run, tally.withoutImage, tally.reason);
        });
    }
    ~StatusLineFollower() override {
        avi::unsubscribe(*this);
        unsubscribeFromPortWrites(*this);
        if (auto *records = session().findComponent<avicap::StreamRecords>()) records->onTallyChange(nullptr);
    }
    StatusLineFollower(const StatusLineFollower &) = delete;
    StatusLineFollower &operator=(const StatusLineFollower &) = delete;

    void fileOpened(avi::FileId, const std::filesystem::path &) override {}
    void streamOpened(avi::FileId file, const avi::StreamOpened &stream) override {
        feed_.streamOpened(file, stream.name, stream.path, stream.frameBytes, stream.serial);
    }
    void frameAppended(avi::FileId file, std::uint32_t frames) override { feed_.frameAppended(file, frames); }
    void fileClosed(avi::FileId file) override { feed_.fileClosed(file); }
    void portWritten(const PortWrite &write) override {
        if (write.address != ParallelPort::kDataRegister) return;
        const ParallelPort *port = write.carried ? nullptr : session().findComponent<ParallelPort>();
        feed_.portWritten(write.value, write.time, port ? std::string_view(port->lossReason()) : std::string_view());
    }

private:
    status::Feed &feed_;
};

void attach(Session &session) {
    session.component<ImageLogFollower>();
    session.component<StatusLineFollower>();
}

}  // namespace

void install() { addSessionStartHook(&attach); }

}  // namespace plat::observers
