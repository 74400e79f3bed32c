// The image log's follower, a session component of the observer layer:
// starts an image log beside every file the AVI library creates for
// writing, with the file's first image, so that a file that never gets one
// leaves an earlier log of that name as it was; hands it each image's line,
// composed from the port's writes and the capture window's stream records;
// gives it a chance to catch up at each port write; finishes it with the
// file, and keeps the lines its end found no room for until the side file
// beside the log takes them (at a port write or another log's image).
#pragma once

#include <filesystem>
#include <memory>
#include <vector>

#include "avifile/avi_events.h"
#include "core/observer_list.h"
#include "imagelog/image_log.h"
#include "imagelog/log_format.h"

namespace plat::observers {

class ImageLogFollower {
public:
    // Follows the AVI library of the session in force.
    ImageLogFollower();
    ImageLogFollower(const ImageLogFollower &) = delete;
    ImageLogFollower &operator=(const ImageLogFollower &) = delete;

    void operator()(const avi::FileOpened &e);
    void operator()(const avi::StreamOpened &) {}
    void operator()(const avi::FrameAppended &e);
    void operator()(const avi::FileClosed &e);

private:
    struct Followed {
        avi::FileId file;
        std::filesystem::path avi;
        std::unique_ptr<imagelog::ImageLog> log;
        Subscription backlog, portWrites;  // let go before the log
        bool logTried = false;
        imagelog::LogLine line;  // reused for every image
    };
    struct Left {
        avi::FileId file;
        imagelog::Leftover lines;
    };
    void start(Followed &f);
    static void tellSuspended(const Followed &f);
    // Tries the lines left in memory again.
    void keepLeftAside();

    std::vector<Followed> followed_;
    std::vector<Left> left_;
    Subscription files_, portWrites_;
};

}  // namespace plat::observers
