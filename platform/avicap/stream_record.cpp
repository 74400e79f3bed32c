#include "avicap/stream_record.h"

#include <algorithm>
#include <string>

#include "avicap/driver.h"

namespace plat::avicap {

void StreamRecords::begin(const Driver &driver, bool toFile, Micros start) {
    StreamRecord &r = records_[toFile ? 1 : 0];
    r = StreamRecord{};
    r.seen = true;
    const std::string name = driver.description();
    std::copy_n(name.begin(), std::min(name.size(), sizeof r.driver - 1), r.driver);
    r.format = driver.format();
    r.start = start;
    current_ = &r;
}

void StreamRecords::frame(Micros captured) {
    if (!current_) return;
    if (current_->frames++ == 0) current_->first = captured;
    current_->last = captured;
}

}  // namespace plat::avicap
