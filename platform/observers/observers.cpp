#include "observers/observers.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "avifile/avi_events.h"
#include "core/hooks.h"
#include "core/session.h"
#include "imagelog/image_log.h"

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
    void frameAppended(avi::FileId file, std::uint32_t frames) override {
        for (Followed &f : files_) {
            if (f.file != file) continue;
            if (!f.log && !f.logTried) {
                f.logTried = true;  // a log that cannot start is told once, and the images go on
                f.log = imagelog::ImageLog::startBeside(f.avi);
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

void attach(Session &session) { session.component<ImageLogFollower>(); }

}  // namespace

void install() { addSessionStartHook(&attach); }

}  // namespace plat::observers
