// What the capture window streamed last, kept for observers beside the
// program (the image log): which driver, in which frame format, and when
// the frames were captured. A session component; recording a frame never
// allocates.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "core/clock.h"

namespace plat::avicap {

class Driver;

struct StreamRecord {
    bool seen = false;
    char driver[100] = {};        // the driver's description, cut to fit
    BITMAPINFOHEADER format{};    // the driver's frame format
    Micros start = 0;             // when the stream began
    std::uint32_t frames = 0;     // frames handed to the video-stream callback
    Micros first = 0, last = 0;   // capture times of the first and the last of them
};

class StreamRecords {
public:
    void begin(const std::shared_ptr<Driver> &driver, bool toFile, Micros start);
    void frame(Micros captured);
    // The last stream into a file, or without one (a readout).
    const StreamRecord &last(bool toFile) const { return records_[toFile ? 1 : 0]; }

private:
    StreamRecord records_[2];
    StreamRecord *current_ = nullptr;
    // The description of the driver that streamed last: a driver's never
    // changes while it lives, and asking for it allocates.
    std::weak_ptr<Driver> described_;
    char description_[sizeof StreamRecord::driver] = {};
};

}  // namespace plat::avicap
