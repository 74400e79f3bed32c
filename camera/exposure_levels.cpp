#include "exposure_levels.h"

namespace noctil::camera {

namespace {

// The heights of interlaced video, whose charge is read one field per pass.
constexpr std::uint32_t FIELD_MODE_HEIGHT_525 = 480;
constexpr std::uint32_t FIELD_MODE_HEIGHT_625 = 576;

std::uint32_t durationOf(std::int64_t ms) { return ms < 0 ? 0 : static_cast<std::uint32_t>(ms); }

}  // namespace

ExposurePhase exposureStart(std::int32_t exposureMs, bool ampOff)
{
    if (ampOff && exposureMs > AMPOFF_MIN_EXPOSURE_MS)
        return {PORT_EXPOSE_AMPOFF, durationOf(std::int64_t{exposureMs} - AMPON_LEAD_MS), true};
    return {PORT_EXPOSE, durationOf(exposureMs), false};
}

ExposurePhase amplifierOnPhase() { return {PORT_EXPOSE, AMPON_LEAD_MS, false}; }

bool isFieldModeHeight(std::uint32_t height)
{
    return height == FIELD_MODE_HEIGHT_525 || height == FIELD_MODE_HEIGHT_625;
}

CameraPortValue readoutLevel(std::uint32_t height)
{
    return isFieldModeHeight(height) ? PORT_READOUT_480 : PORT_READOUT;
}

}  // namespace noctil::camera
