// The engine the driver runs its exposures on, made from the settings on
// Connect and let go on Disconnect, which leaves the camera's lines at rest.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "camera_settings.h"
#include "exposure_runner.h"

namespace noctil::indi {

// How the camera's charge is read out, which the frame's height decides as
// the program decides it (docs/field-mode.md).
enum class ReadoutMode {
    WholeFrame,  // one readout level, the brighter of the frames after it
    Fields,      // 480 and 576 lines: two passes, odd and even rows from each
};

struct FrameSize {
    int width = 0, height = 0;
};

class ConnectedCamera : public Camera {
public:
    // The capture device's frame formats in words ("640 x 480, 24-bit RGB").
    virtual std::vector<std::string> formats() const = 0;
    virtual std::size_t formatIndex() const = 0;
    // Switches to formats()[index] between exposures; false when it cannot.
    virtual bool selectFormat(std::size_t index) = 0;
    virtual ReadoutMode readout() const = 0;
    virtual FrameSize frameSize() const = 0;
    // The capture device's frame now, for live video; none (width 0) when
    // it has none.
    virtual Image liveImage() = 0;
};

// Every level the driver writes to the port also goes, with its time, to the
// file that NOCTIL_PORT_TRACE names when the driver starts, if it names one:
// the port's own record of each exposure, to set beside the FITS headers.

// Null with `failure` saying why, for a person, when the port or the
// capture device cannot be opened.
std::unique_ptr<ConnectedCamera> connectCamera(const CameraSettings &settings, std::string &failure);

// At the driver's start: the configured port at rest, before anything else,
// for a driver killed during an exposure left the camera integrating.
void restPortAtStart(const CameraSettings &settings);

}  // namespace noctil::indi
