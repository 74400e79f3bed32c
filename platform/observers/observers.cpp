#include "observers/observers.h"

#include <algorithm>
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
// writing, writes its line after each frame and closes it with the file.
class ImageLogFollower final : public avi::FileObserver {
public:
    ImageLogFollower() { avi::subscribe(*this); }
    ~ImageLogFollower() override { avi::unsubscribe(*this); }
    ImageLogFollower(const ImageLogFollower &) = delete;
    ImageLogFollower &operator=(const ImageLogFollower &) = delete;

    void fileOpened(avi::FileId file, const std::filesystem::path &path) override {
        if (std::unique_ptr<imagelog::ImageLog> log = imagelog::ImageLog::startBeside(path))
            logs_.emplace_back(file, std::move(log));
    }
    void frameAppended(avi::FileId file, std::uint32_t frames) override {
        for (auto &[id, log] : logs_)
            if (id == file) log->imageAppended(frames);
    }
    void fileClosed(avi::FileId file) override {
        std::erase_if(logs_, [file](const auto &entry) { return entry.first == file; });
    }

private:
    std::vector<std::pair<avi::FileId, std::unique_ptr<imagelog::ImageLog>>> logs_;
};

void attach(Session &session) { session.component<ImageLogFollower>(); }

}  // namespace

void install() { addSessionStartHook(&attach); }

}  // namespace plat::observers
