// The simulated CCTV camera: the capture device a fresh machine has at index
// 0, so the program runs and is tested without hardware. It watches the port
// it is given and paces its frames by the clock it is given; it knows no
// window system (its dialogs are supplied by the capture window's side:
// avicap/installed_simcam.h).
#pragma once

#include <camport.h>

#include <cstddef>
#include <memory>
#include <span>

#include "avicap/driver.h"
#include "avicap/sky.h"
#include "core/clock.h"
#include "port/parallel_port.h"

namespace plat::avicap {

// The camera's line levels (camport.h) as the simulated camera reads them.
inline constexpr std::uint16_t kCameraPortAddress = CAMERA_PORT_ADDRESS;
inline constexpr std::uint8_t kIntegrateBits = PORT_INTEGRATE_BITS;
inline constexpr std::uint8_t kAmplifierOffBit = PORT_AMPOFF_BIT;
inline constexpr std::uint8_t kReadoutOddField = PORT_READOUT_480;

// Frame interval of the camera's own video: live frames integrate this long.
inline constexpr Micros kVideoFrameMicros = 33333;

// What the device lists itself as, and keeps its settings under.
inline constexpr const char *kSimulatedCameraDescription = "Simulated CCTV camera";

// The camera's Video Source and Video Format dialogs, for a camera shown by
// a window system.
class SimulatedCameraDialogs {
public:
    virtual ~SimulatedCameraDialogs() = default;
    // The gain and the sky; true when confirmed, with `sky` as chosen.
    virtual bool videoSource(HWND owner, SkySettings &sky) = 0;
    // One of `formats`; true when confirmed, with `index` as chosen.
    virtual bool videoFormat(HWND owner, std::span<const BITMAPINFOHEADER> formats, std::size_t &index) = 0;
};

// The camera on `port` (which must outlive it), its frames paced by `clock`,
// looking at the sky of `sky`. Without `dialogs` it offers none.
std::unique_ptr<ClockPacedDriver> makeSimulatedCamera(Clock &clock, ParallelPort &port, SkySettings sky = {},
                                                      std::unique_ptr<SimulatedCameraDialogs> dialogs = nullptr);

}  // namespace plat::avicap
