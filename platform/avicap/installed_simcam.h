// The simulated camera as the driver list installs it ("simcam"): with its
// Video Source and Video Format dialogs, and the gain and sky the user chose
// last (avicap/device_settings.h), saved again when the dialog is confirmed.
#pragma once

#include <memory>

#include "avicap/simcam.h"

namespace plat::avicap {

std::unique_ptr<ClockPacedDriver> makeInstalledSimulatedCamera(Clock &clock, ParallelPort &port);

}  // namespace plat::avicap
