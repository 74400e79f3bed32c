#include "avicap/stream_record.h"

#include <algorithm>
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
}

void StreamRecords::frame(Micros captured) {
    if (!current_) return;
    if (current_->frames++ == 0) current_->first = captured;
    current_->last = captured;
}

}  // namespace plat::avicap
