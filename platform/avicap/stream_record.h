// What the capture window streamed last, kept for observers beside the
// program (the image log): which driver, in which frame format, and when
// the frames were captured. A session component; recording a frame never
// allocates.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "core/clock.h"
#include "core/observer_list.h"

namespace plat::avicap {

class Driver;

struct StreamRecord {
    bool seen = false;
    char driver[100] = {};       // the driver's description, cut to fit
    BITMAPINFOHEADER format{};   // the driver's frame format
    Micros start = 0;            // when the stream began
    std::uint32_t frames = 0;    // frames handed to the video-stream callback
    Micros first = 0, last = 0;  // capture times of the first and the last of them
};

// The readouts of one run (the output file being written, by its serial)
// that gave no image, and why the latest did not.
struct ReadoutTally {
    std::uint64_t run = 0;
    std::uint32_t withoutImage = 0;
    char reason[160] = {};
};

// How a stream ended, as the capture window saw it.
struct StreamEnd {
    bool stopRequested = false;  // the callback asked to stop: it had what it wanted
    bool aborted = false;        // it asked to abort: it found no image in the frames
    bool deviceFailed = false;
    int failureCode = 0;        // the device's errno
    unsigned limitSeconds = 0;  // the time limit it ran under, 0 for none
    // The exposure this readout ended was not carried by the camera port:
    // why (the port's words), else null.
    const char *portLoss = nullptr;
};

class StreamRecords {
public:
    void begin(const std::shared_ptr<Driver> &driver, bool toFile, Micros start);
    void frame(Micros captured);
    // A readout that ends without a frame chosen, that the callback aborted,
    // or whose exposure the port did not carry, gave no image; one that
    // chose a frame gives its image once the stream into a file that
    // follows it delivers; `run` is the serial of the file being written
    // (0: none, nothing is counted).
    void end(const StreamEnd &how, std::uint64_t run);
    const ReadoutTally &tally() const { return tally_; }
    // A device that failed is back: the reason its readouts gave no image
    // no longer holds and is cleared; the count stays.
    void deviceBack();
    // Calls `call` whenever a readout is counted without an image, while the
    // subscription lives: what a display tells of the run.
    Subscription onTallyChange(std::function<void(const ReadoutTally &)> call) {
        return tallyChanged_.add(std::move(call));
    }
    // The last stream into a file, or without one (a readout).
    const StreamRecord &last(bool toFile) const { return records_[toFile ? 1 : 0]; }

private:
    StreamRecord records_[2];
    StreamRecord *current_ = nullptr;
    bool currentToFile_ = false;
    bool imagePending_ = false;  // a readout chose a frame; its image is not made yet
    ReadoutTally tally_;
    bool deviceReason_ = false;  // the tally's reason is a device's failure
    ObserverList<const ReadoutTally &> tallyChanged_;
    void countWithoutImage(std::uint64_t run, const char *reason);
    // The description of the driver that streamed last: a driver's never
    // changes while it lives, and asking for it allocates.
    std::weak_ptr<Driver> described_;
    char description_[sizeof StreamRecord::driver] = {};
};

}  // namespace plat::avicap
