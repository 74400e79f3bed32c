// The simulated CCTV camera: the capture driver a fresh machine has at
// index 0, so the program runs and is tested without hardware.
#pragma once

#include <memory>

#include "avicap/driver.h"

namespace plat::avicap {

// Levels of the camera's control lines on the port's data register.
// Integration holds bits 0, 1 and 3; bit 2 on top holds the amplifier off.
// A readout level (bit 3 without bit 1) moves the integrated charge out:
// on interlaced video (480 or 576 lines) 0x09 moves the odd rows and a later
// 0x08 the even rows, on other heights 0x08 moves the whole frame.
inline constexpr std::uint16_t kCameraPortAddress = 0x378;
inline constexpr std::uint8_t kIntegrateBits = 0x0B;
inline constexpr std::uint8_t kAmplifierOffBit = 0x04;
inline constexpr std::uint8_t kReadoutOddField = 0x09;

// Frame interval of the camera's own video: live frames integrate this long.
inline constexpr Micros kVideoFrameMicros = 33333;

std::unique_ptr<ClockPacedDriver> makeSimulatedCamera();

}  // namespace plat::avicap
