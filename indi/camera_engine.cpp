#include "camera_engine.h"

#include <camport.h>

#include <cstdlib>
#include <cstring>

#include "avifile/dib_decode.h"
#include "avi_source.h"
#include "camera/exposure_levels.h"
#include "camera/readout_selection.h"
#include "fits_file.h"
#include "imagelog/image_log.h"
#include "port/port_exposure.h"

namespace noctil::indi {

namespace {

// The readout stream as the program asks its capture window for it
// (device/device_config.cpp): a frame every 33 ms, at most two seconds.
constexpr plat::Micros kReadoutFrameInterval = 33000;
constexpr plat::Micros kReadoutTimeLimit = 2'000'000;

std::uint32_t rows(const BITMAPINFOHEADER &format) { return std::uint32_t(std::abs(format.biHeight)); }

}  // namespace

CameraEngine::CameraEngine(plat::Clock &clock, plat::ParallelPort &port, plat::avicap::Driver &driver,
                           std::string portBackend)
    : clock_(clock),
      port_(port),
      driver_(driver),
      portBackend_(std::move(portBackend)),
      frame_(plat::avicap::kLargestFrameBytes),
      kept_(plat::avicap::kLargestFrameBytes) {}

std::vector<std::string> CameraEngine::formats() const {
    std::vector<std::string> names;
    for (const BITMAPINFOHEADER &format : driver_.formats())
        names.push_back(plat::imagelog::describeFrameFormat(format));
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

plat::Micros CameraEngine::write(int level) {
    port_.write(CAMERA_PORT_ADDRESS, std::uint8_t(level));
    return clock_.now();
}

ExposureOutcome CameraEngine::ended(ExposureOutcome o, ExposureOutcome::End end, std::string failure) {
    write(PORT_IDLE);
    o.end = end;
    o.failure = std::move(failure);
    return o;
}

ExposureOutcome CameraEngine::expose(const ExposureRequest &request, AbortSignal &abort,
                                     const std::function<void(Phase)> &phase) {
    ExposureOutcome o;
    o.requested = request.length;
    o.portBackend = portBackend_;
    o.format = plat::imagelog::describeFrameFormat(driver_.format());

    // The protocol counts exposures in milliseconds, as the program's settings do.
    const auto ms = std::int32_t((request.length + 500) / 1000);
    camera::ExposurePhase step = camera::exposureStart(ms, request.amplifierOff);
    plat::Micros at = write(step.level);
    phase(Phase::Integrating);
    for (;;) {
        if (abort.waitUntil(clock_, at + plat::Micros{step.durationMs} * 1000))
            return ended(o, ExposureOutcome::End::Aborted);
        if (!step.amplifierOff) break;
        step = camera::amplifierOnPhase();
        at = write(step.level);
    }
    if (!readOut(o, abort, phase)) return ended(o, ExposureOutcome::End::Aborted);
    write(PORT_IDLE);

    const std::optional<plat::PortExposure> held = plat::lastExposure(port_.writes());
    if (held) {
        o.exposeStart = held->start;
        o.exposeEnd = held->end;
        o.ampOff = held->ampOff;
    }
    o.utcOffset = plat::utcOffset(clock_);
    if (o.readoutFrames == 0 || !held) {
        o.end = ExposureOutcome::End::Failed;
        // A readout that ended without a field has said so.
        if (o.failure.empty())
            o.failure = driver_.failure().empty() ? "no frame from the capture device" : driver_.failure();
        return o;
    }
    const BITMAPINFOHEADER &format = driver_.format();
    o.image = imageOf(format, std::span(kept_).first(plat::avicap::frameBytes(format)));
    if (o.image.width == 0) return ended(o, ExposureOutcome::End::Failed, "the capture format cannot be read");
    o.end = ExposureOutcome::End::Image;
    return o;
}

bool CameraEngine::readOut(ExposureOutcome &o, AbortSignal &abort, const std::function<void(Phase)> &phase) {
    const BITMAPINFOHEADER &format = driver_.format();
    const std::span<std::uint8_t> frame = std::span(frame_).first(plat::avicap::frameBytes(format));
    int step = SELECTION_ARMED;
    std::int32_t bestScore = 0;
    if (!driver_.startStream(kReadoutFrameInterval)) return true;
    const plat::Micros deadline = clock_.now() + kReadoutTimeLimit;
    bool aborted = false;
    int frames = 0;
    for (;;) {
        const plat::avicap::FrameWait wait = driver_.nextFrame(deadline, frame);
        if (wait.outcome != plat::avicap::FrameWait::Outcome::Frame) break;
        ++frames;
        const camera::FrameStep taken =
            camera::takeFrame({step, bestScore, kept_}, frame.first(wait.bytesUsed), rows(format));
        if (taken.level != camera::NO_LEVEL) write(taken.level);
        if (frames == 1 && step == SELECTION_ARMED_ON_FRAME) phase(Phase::ReadingOut);
        // The frame on which the selection finished: the image's last.
        if (taken.chosen) {
            o.readoutFrame = clock_.now();
            o.readoutFrames = frames;
        }
        if (taken.stop) break;
        // Between frames: an abort rests the lines within a frame's time.
        if (abort.raised()) {
            aborted = true;
            break;
        }
    }
    driver_.endStream();
    if (const char *missing = camera::missingField(step))
        o.failure = std::string("the ") + missing + " field did not arrive in the readout stream";
    return !aborted;
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
