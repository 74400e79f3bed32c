// The program's writes to the data register, carried to the camera's lines.
// The lines are opened at the first write. Lines that fail (a USB serial
// adapter pulled out) are let go and opened again at a later write once
// they can be, the rest level first, as the Linux build does; the person is
// told through `tell`, which the caller shows where showing cannot hold up
// the exposure cycle.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "camera_lines.h"

namespace winport {

class CameraPort {
public:
    using Opener = std::function<OpenedLines()>;
    using Teller = std::function<void(const std::string &text)>;
    CameraPort(Opener open, Teller tell) : open_(std::move(open)), tell_(std::move(tell)) {}

    void write(unsigned short address, std::uint8_t value);
    // Failures reported so far, told or only counted.
    int failures() const { return failures_; }

private:
    bool reopen();
    void lost(const PortFailure &failure, bool comesBack);
    void track(std::uint8_t value, bool carried);

    Opener open_;
    Teller tell_;
    std::unique_ptr<CameraLines> lines_;
    bool opened_ = false;     // the first write has tried to open the lines
    bool comesBack_ = false;  // lines not open now may be opened at a later write
    bool inside_ = false;     // a write from inside `tell` (a box's own loop) carries nothing
    int failures_ = 0;
    PortFailure told_;              // the failure told last
    bool carriedSinceTold_ = false; // an exposure was carried whole since
    std::uint8_t level_ = 0;
    bool exposureCarried_ = true;   // of the exposure under way
};

// What the person reads for the `count`th failure of the port: what failed
// and why, what to do, and whether a port that works again is used again.
std::string portFailureText(const PortFailure &failure, int count, bool comesBack);

}  // namespace winport
