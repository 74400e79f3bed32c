// What the driver is set to drive: the camera port and the capture device,
// as Noctil's own properties show them and the engine takes them on Connect.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace noctil::indi {

// The port backends, by the names the platform's configuration uses.
inline constexpr std::array<std::string_view, 4> kPortBackends{"simulated", "ppdev", "direct", "serial"};

struct CameraSettings {
    std::string portBackend = "simulated";
    std::string portDevice = "/dev/parport0";  // ppdev and serial
    std::string portAddress = "0x378";         // direct I/O
    bool amplifierOff = false;
    std::string captureDevice = "simcam";  // the simulated camera, or a V4L2 device's node
    std::string input;                     // a V4L2 input's name; empty: the device's own
    std::string standard;                  // "PAL", "NTSC" ...; empty: the device's own
    int format = 0;                        // index among the device's formats
};

}  // namespace noctil::indi
