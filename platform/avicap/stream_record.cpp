#include "avicap/stream_record.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "avicap/driver.h"

namespace plat::avicap {

void StreamRecords::begin(const std::shared_ptr<Driver> &driver, bool toFile, Micros start) {
    if (described_.lock() != driver) {
        const std::string name = driver->description();
        std::fill(std::begin(description_), std::end(description_), '\0');
        std::copy_n(name.begin(), std::min(name.size(), sizeof description_ - 1), description_);
        described_ = driver;
    }
    StreamRecord &r = records_[toFile ? 1 : 0];
    r = StreamRecord{};
    r.seen = true;
    std::copy(std::begin(description_), std::end(description_), r.driver);
    r.format = driver->format();
    r.start = start;
    current_ = &r;
    currentToFile_ = toFile;
}

void StreamRecords::countWithoutImage(std::uint64_t run, const char *reason) {
    if (run == 0) return;
    if (tally_.run != run) tally_ = ReadoutTally{run, 0, {}};
    deviceReason_ = false;
    ++tally_.withoutImage;
    std::snprintf(tally_.reason, sizeof tally_.reason, "%s", reason);
    tallyChanged_.notify(tally_);
}

void StreamRecords::end(const StreamEnd &how, std::uint64_t run) {
    if (!current_) return;
    const StreamRecord &r = *current_;
    current_ = nullptr;
    if (currentToFile_) {
        // The stream that makes the chosen frame into the image.
        if (!imagePending_) return;
        imagePending_ = false;
        if (how.deviceFailed || r.frames == 0)
            countWithoutImage(run, "the chosen frame could not be made into an image");
        return;
    }
    // A readout that follows one whose image was never made.
    if (imagePending_) countWithoutImage(run, "the chosen frame could not be made into an image");
    imagePending_ = false;
    char reason[sizeof tally_.reason];
    if (how.portLoss)
        std::snprintf(reason, sizeof reason, "%s", how.portLoss);
    else if (how.deviceFailed && how.failureCode == ENODEV)
        std::snprintf(reason, sizeof reason, "the device is gone");
    else if (how.deviceFailed)
        std::snprintf(reason, sizeof reason, "the device failed: %s",
                      std::strerror(how.failureCode ? how.failureCode : EIO));
    else if (how.aborted)
        std::snprintf(reason, sizeof reason, "the program found no image in the readout's %u frames",
                      static_cast<unsigned>(r.frames));
    else if (r.frames == 0 && how.limitSeconds)
        std::snprintf(reason, sizeof reason, "no frame from the device in %u s", how.limitSeconds);
    else if (r.frames == 0)
        std::snprintf(reason, sizeof reason, "no frame from the device");
    else if (!how.stopRequested)
        std::snprintf(reason, sizeof reason, "frames the program cannot use");
    else {
        imagePending_ = true;
        return;
    }
    countWithoutImage(run, reason);
    if (run) deviceReason_ = how.deviceFailed && !how.portLoss;
}

void StreamRecords::deviceBack() {
    if (!deviceReason_ || tally_.reason[0] == '\0') return;
    deviceReason_ = false;
    tally_.reason[0] = '\0';
    tallyChanged_.notify(tally_);
}

void StreamRecords::frame(Micros captured) {
    if (!current_) return;
    if (current_->frames++ == 0) current_->first = captured;
    current_->last = captured;
}

}  // namespace plat::avicap
