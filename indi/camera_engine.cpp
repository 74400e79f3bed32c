#include "camera_engine.h"

#include <cstdlib>

#include "avi_source.h"
#include "avifile/dib_decode.h"
#include "camera/exposure_levels.h"
#include "core/utc.h"
#include "fits_file.h"

namespace noctil::indi {

namespace {

std::uint32_t rows(const BITMAPINFOHEADER &format) { return std::uint32_t(std::abs(format.biHeight)); }

}  // namespace

CameraEngine::CameraEngine(plat::Clock &clock, plat::ParallelPort &port, plat::avicap::Driver &driver,
                           std::string portBackend)
    : clock_(clock),
      driver_(driver),
      engine_(clock, port, driver),
      portBackend_(std::move(portBackend)),
      frame_(plat::avicap::kLargestFrameBytes) {}

std::vector<std::string> CameraEngine::formats() const {
    std::vector<std::string> names;
    for (const BITMAPINFOHEADER &format : driver_.formats()) names.push_back(plat::avicap::describeFormat(format));
    return names;
}

ReadoutMode CameraEngine::readout() const {
    return camera::isFieldModeHeight(rows(driver_.format())) ? ReadoutMode::Fields : ReadoutMode::WholeFrame;
}

FrameSize CameraEngine::frameSize() const { return {int(driver_.format().biWidth), int(rows(driver_.format()))}; }

Image CameraEngine::liveImage() {
    const BITMAPINFOHEADER &format = driver_.format();
    const std::size_t used = driver_.grabFrame(std::span(frame_).first(plat::avicap::frameBytes(format)));
    if (used == 0) return {};
    return imageOf(format, std::span(frame_).first(used));
}

ExposureOutcome CameraEngine::expose(const ExposureRequest &request, AbortSignal &abort,
                                     const std::function<void(Phase)> &phase) {
    ExposureOutcome o;
    o.requested = request.length;
    o.portBackend = portBackend_;
    o.format = plat::avicap::describeFormat(driver_.format());

    // The protocol counts exposures in milliseconds, as the program's settings do.
    engine_.start({.exposureMs = std::int32_t((request.length + 500) / 1000), .ampOff = request.amplifierOff});
    phase(Phase::Integrating);
    while (engine_.advance() == plat::engine::ExposureEngine::Step::Exposing) {
        if (abort.waitUntil(clock_, engine_.nextStepAt())) {
            engine_.abort();
            o.end = ExposureOutcome::End::Aborted;
            return o;
        }
    }
    phase(Phase::ReadingOut);
    const plat::engine::Exposure taken = engine_.readOut();
    // The stream's last frame came as it ended.
    o.readoutFrame = clock_.now();
    o.readoutFrames = int(taken.readoutFrames);
    o.utcOffset = plat::utcOffset(clock_);
    if (taken.measured) {
        o.exposeStart = taken.measured->start;
        o.exposeEnd = taken.measured->end;
        o.ampOff = taken.measured->ampOff;
    }
    if (abort.raised()) {
        o.end = ExposureOutcome::End::Aborted;
        return o;
    }
    if (!taken.imageChosen || !taken.measured) {
        o.end = ExposureOutcome::End::Failed;
        o.failure = taken.failure.empty() ? "the readout gave no image" : taken.failure;
        return o;
    }
    o.image = imageOf(taken.format, taken.image);
    if (o.image.width == 0) {
        o.end = ExposureOutcome::End::Failed;
        o.failure = "the capture format cannot be read";
        return o;
    }
    o.end = ExposureOutcome::End::Image;
    return o;
}

Image imageOf(const BITMAPINFOHEADER &format, std::span<const std::uint8_t> kept) {
    Image image;
    std::vector<std::uint8_t> dib;
    convert::Picture picture;
    const auto header = std::span(reinterpret_cast<const std::uint8_t *>(&format), sizeof format);
    if (!plat::avi::decodeToDib24(header, kept, dib) || !convert::pictureFromDib24(dib, picture)) return image;
    const bool grey = picture.grey();
    image.width = int(picture.width);
    image.height = int(picture.height);
    image.planes = grey ? 1 : 3;
    image.samples = convert::imagePlanes(picture, grey, convert::RowOrder::TopDown);
    return image;
}

}  // namespace noctil::indi
