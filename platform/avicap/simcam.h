// The simulated CCTV camera: the capture driver a fresh machine has at
// index 0, so the program runs and is tested without hardware.
#pragma once

#include <camport.h>

#include <memory>

#include "avicap/driver.h"

namespace plat::avicap {

// The camera's line levels (camport.h) as the simulated camera reads them.
inline constexpr std::uint16_t kCameraPortAddress = CAMERA_PORT_ADDRESS;
inline constexpr std::uint8_t kIntegrateBits = PORT_INTEGRATE_BITS;
inline constexpr std::uint8_t kAmplifierOffBit = PORT_AMPOFF_BIT;
inline constexpr std::uint8_t kReadoutOddField = PORT_READOUT_480;

// Frame interval of the camera's own video: live frames integrate this long.
inline constexpr Micros kVideoFrameMicros = 33333;

std::unique_ptr<ClockPacedDriver> makeSimulatedCamera();

}  // namespace plat::avicap
