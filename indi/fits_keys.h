// The FITS keys the driver writes into each image beside INDI's own: the
// exposure the camera's lines held (EXPTIME, DATE-OBS, DATE-END) in place of
// the time that was asked for, which gets a key of its own, the
// amplifier-off part, the readout frame, the capture format and the port
// backend. The converter's keyword rows, so both programs say the same.
#pragma once

#include <fitsio.h>

#include <vector>

#include "exposure.h"

namespace noctil::convert {
struct FitsKeyword;
}

namespace noctil::indi {

// The keys of `outcome` (an image), in the order they are written. `dark`
// adds DARKTIME, which INDI writes for dark frames, as the measured time too.
std::vector<convert::FitsKeyword> exposureKeys(const ExposureOutcome &outcome, bool dark);

// Writes them into the header of `file`, replacing INDI's keys of the same
// name; false with cfitsio's `status` when it failed.
bool writeExposureKeys(fitsfile *file, const ExposureOutcome &outcome, bool dark, int &status);

}  // namespace noctil::indi
