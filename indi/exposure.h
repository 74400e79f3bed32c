// One exposure as the INDI driver sees it: asked for with a length and the
// amplifier, ended with the kept image and the times the camera port held,
// which the FITS header reports instead of the time that was asked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/utc.h"

namespace noctil::indi {

struct ExposureRequest {
    plat::Micros length = 0;
    // Integrate with the amplifier off for all but the last second (exposures
    // longer than two seconds; shorter ones keep it on, as the program does).
    bool amplifierOff = false;
};

// An image as INDI sends it: 8-bit samples, rows top-down, one plane (grey)
// or three planes red, green, blue one after the other (colour).
struct Image {
    int width = 0;
    int height = 0;
    int planes = 1;
    std::vector<std::uint8_t> samples;
};

struct ExposureOutcome {
    enum class End { Image, Aborted, Failed };
    End end = End::Failed;
    std::string failure;  // for a person, when the exposure failed

    plat::Micros requested = 0;
    // The exposure as the port's log shows it, on the engine's clock: from
    // the write that put an integration level on the lines to the first write
    // of another level; the part of it with the amplifier off.
    plat::Micros exposeStart = 0;
    plat::Micros exposeEnd = 0;
    plat::Micros ampOff = 0;
    // When the capture device delivered the frame the image was read from
    // (the last frame of the readout stream), and how many the stream had.
    plat::Micros readoutFrame = 0;
    int readoutFrames = 0;
    // What to add to the clock's times for UTC.
    plat::UtcMicros utcOffset = 0;

    std::string format;       // "640 x 480, 24-bit RGB", the capture device's frame format
    std::string portBackend;  // "simulated", "ppdev", "direct", "serial"
    Image image;

    plat::Micros exposure() const { return exposeEnd - exposeStart; }
};

}  // namespace noctil::indi
