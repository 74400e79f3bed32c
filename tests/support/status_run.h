// One run that the status line's tests follow on both displays: its
// settings, and the line (without its free-space part, which depends on the
// machine's drive) at each step they look at.
#pragma once

#include <string>
#include <vector>

namespace noctil::test {

// Amplifier off, 4 s exposures, 3 s delay, two images, live preview.
inline constexpr const char *kStatusRunSettings =
    "[Filenames]\r\nImageFile=C:\\night.avi\r\n[Flags]\r\nAmpOff=1\r\n[Capture]\r\nExposure=4000\r\nDelay=3000\r\n"
    "Count=2\r\n[Driver]\r\nPreviewMode=2\r\n";

// Before Record (500 ms), 0.5 s into the exposure (Record at 1000 ms), 0.5 s
// after the amplifier went on, 1 s into the delay, and after Stop.
inline const std::vector<std::string> kStatusRunLines = {
    "at rest",
    "integrating, amplifier off - 0.5 s  |  amplifier on in 2.5 s  |  recording to C:\\night.avi, no image yet",
    "integrating, amplifier on - 0.5 s  |  readout in 0.5 s  |  recording to C:\\night.avi, no image yet",
    "at rest  |  next exposure in 2.0 s  |  1 of 2 images written to C:\\night.avi",
    "at rest  |  1 of 2 images written to C:\\night.avi",
};

// At the port's first readout level.
inline constexpr const char *kStatusAtReadout = "reading out  |  recording to C:\\night.avi, no image yet";

// The line without its free-space part.
inline std::string withoutFreeSpace(std::string text) {
    const std::size_t space = text.find(" free, room for ");
    if (space == std::string::npos) return text;
    return text.substr(0, text.rfind("  |  ", space));
}

}  // namespace noctil::test
