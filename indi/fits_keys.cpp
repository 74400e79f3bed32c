#include "fits_keys.h"

#include "fits_file.h"
#include "imagelog/log_format.h"

namespace noctil::indi {

namespace {

using convert::FitsKeyword;

FitsKeyword text(const char *name, std::string value, const char *comment) {
    return {FitsKeyword::Kind::Text, name, std::move(value), 0, 0, 0, comment};
}
// Microseconds are the port log's resolution: six decimals after the point
// keep them all, however long the exposure.
FitsKeyword seconds(const char *name, plat::Micros t, const char *comment) {
    return {FitsKeyword::Kind::Fixed, name, "", 0, static_cast<double>(t) / 1e6, 6, comment};
}
FitsKeyword whole(const char *name, long long value, const char *comment) {
    return {FitsKeyword::Kind::Integer, name, "", value, 0, 0, comment};
}

}  // namespace

std::vector<FitsKeyword> exposureKeys(const ExposureOutcome &o, bool dark) {
    using plat::imagelog::formatUtc;
    std::vector<FitsKeyword> k;
    k.push_back(seconds("EXPTIME", o.exposure(), "[s] exposure as the camera's lines held it"));
    if (dark) k.push_back(seconds("DARKTIME", o.exposure(), "[s] dark exposure as the lines held it"));
    k.push_back(text("TIMESYS", "UTC", "time scale of the dates"));
    k.push_back(text("DATE-OBS", formatUtc(o.exposeStart + o.utcOffset), "start of exposure: port at exposure level"));
    k.push_back(text("DATE-END", formatUtc(o.exposeEnd + o.utcOffset), "end of exposure: port left exposure level"));
    k.push_back(seconds("EXPREQ", o.requested, "[s] exposure asked for"));
    k.push_back(seconds("AMPOFF", o.ampOff, "[s] part of it with the amplifier off"));
    k.push_back(text("DATE-RDF", formatUtc(o.readoutFrame + o.utcOffset), "last readout frame of the image (UTC)"));
    k.push_back(whole("RDFRAMES", o.readoutFrames, "frames of the readout stream"));
    k.push_back(text("VIDEOFMT", o.format, "capture device's frame format"));
    k.push_back(text("PORTBACK", o.portBackend, "camera port backend"));
    return k;
}

bool writeExposureKeys(fitsfile *file, const ExposureOutcome &outcome, bool dark, int &status) {
    return convert::writeKeywords(file, exposureKeys(outcome, dark), status);
}

}  // namespace noctil::indi
