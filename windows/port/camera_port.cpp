#include "camera_port.h"

#include "public/camport.h"

namespace winport {

namespace {

bool integrating(std::uint8_t level) { return (level & PORT_INTEGRATE_BITS) == PORT_INTEGRATE_BITS; }

}  // namespace

void CameraPort::write(unsigned short address, std::uint8_t value) {
    if (inside_) return;  // the start's box is open: its loop runs timers
    if (!opened_) {
        opened_ = true;
        OpenedLines opened = open_();
        if (opened.failure) lost(*opened.failure, opened.comesBack);
        lines_ = std::move(opened.lines);
    } else if (lines_ == nullptr && comesBack_) {
        reopen();
    }
    // Only the data register carries the camera's lines.
    if (address != CAMERA_PORT_ADDRESS) return;
    bool carried = false;
    if (lines_ != nullptr) {
        if (auto failure = lines_->write(value)) {
            lines_.reset();
            lost(*failure, true);
        } else {
            carried = true;
        }
    }
    track(value, carried);
}

// Lines that come back may hold anything (an adapter raises DTR and RTS as
// it opens): the rest level goes out before the level the program wants.
// A failed try is not told again: the person knows the port is away.
bool CameraPort::reopen() {
    OpenedLines opened = open_();
    if (opened.lines == nullptr) return false;
    if (opened.lines->write(PORT_IDLE)) return false;
    lines_ = std::move(opened.lines);
    return true;
}

// The same failure again before an exposure went through whole (a port that
// comes and goes, the same error at every try) is only counted: box after
// box would tell the person nothing new.
void CameraPort::lost(const PortFailure &failure, bool comesBack) {
    comesBack_ = comesBack;
    ++failures_;
    const bool sameAsTold = failures_ > 1 && failure.what == told_.what && failure.reason == told_.reason;
    if (sameAsTold && !carriedSinceTold_) return;
    told_ = failure;
    carriedSinceTold_ = false;
    inside_ = true;
    tell_(portFailureText(failure, failures_, comesBack));
    inside_ = false;
}

// An exposure counts as carried when every write from its integrating level
// to the level that ended it reached the lines.
void CameraPort::track(std::uint8_t value, bool carried) {
    if (integrating(value) && !integrating(level_)) {
        exposureCarried_ = carried;
    } else if (integrating(level_)) {
        exposureCarried_ = exposureCarried_ && carried;
        if (!integrating(value)) carriedSinceTold_ = carriedSinceTold_ || exposureCarried_;
    }
    level_ = value;
}

std::string portFailureText(const PortFailure &failure, int count, bool comesBack) {
    std::string text = std::string(count == 1 ? "The camera port cannot be used." : "The camera port failed again.") +
                       "\n\n" + failure.what + ": " + failure.reason + ".\n\n" + failure.remedy +
                       "\n\nThe camera is not controlled: exposures are not made as set until the port works";
    text += comesBack ? ". A device that comes back is used again, from the rest level on."
                      : " and Noctil is started again.";
    if (count > 1) text += "\n\nFailures of the port since the program started: " + std::to_string(count) + ".";
    return text;
}

}  // namespace winport
