#include "engine/exposure_engine.h"

#include <camport.h>

#include <cstdlib>
#include <span>

#include "camera/exposure_levels.h"
#include "camera/readout_selection.h"

namespace plat::engine {

namespace protocol = noctil::camera;

ExposureEngine::ExposureEngine(Clock &clock, ParallelPort &port, avicap::Driver &device)
    : clock_(clock),
      port_(port),
      device_(device),
      frame_(avicap::kLargestFrameBytes),
      kept_(avicap::kLargestFrameBytes) {}

ExposureEngine::~ExposureEngine() {
    if (step_ != Step::Idle) abort();
}

Exposure ExposureEngine::expose(const ExposureSettings &settings) {
    start(settings);
    while (advance() == Step::Exposing) clock_.sleepUntil(nextStepAt_);
    return readOut();
}

void ExposureEngine::start(const ExposureSettings &settings) {
    const protocol::ExposurePhase phase = protocol::exposureStart(settings.exposureMs, settings.ampOff);
    writeLevel(phase.level);
    step_ = Step::Exposing;
    amplifierOnDue_ = phase.amplifierOff;
    nextStepAt_ = clock_.now() + Micros{phase.durationMs} * 1000;
}

ExposureEngine::Step ExposureEngine::advance() {
    if (step_ != Step::Exposing || clock_.now() < nextStepAt_) return step_;
    if (amplifierOnDue_) {
        // The amplifier's last second, from the moment it is written.
        const protocol::ExposurePhase phase = protocol::amplifierOnPhase();
        writeLevel(phase.level);
        amplifierOnDue_ = false;
        nextStepAt_ = clock_.now() + Micros{phase.durationMs} * 1000;
        return step_;
    }
    step_ = Step::ReadoutDue;
    return step_;
}

Exposure ExposureEngine::readOut() {
    Exposure result;
    result.format = device_.format();
    const std::size_t bytes = avicap::frameBytes(result.format);
    const auto height = static_cast<std::uint32_t>(std::abs(result.format.biHeight));
    int selectionStep = SELECTION_ARMED;
    std::int32_t bestScore = 0;
    const protocol::Selection selection{selectionStep, bestScore, kept_};

    if (bytes > frame_.size()) {
        result.failure = "the device's frames are larger than any the camera makes";
    } else if (!device_.startStream(protocol::READOUT_FRAME_MICROS)) {
        result.failure = "the capture device did not stream: " + device_.failure();
    } else {
        const std::span<std::uint8_t> frame = std::span(frame_).first(bytes);
        const Micros deadline = clock_.now() + Micros{protocol::READOUT_TIME_LIMIT_S} * 1000000;
        for (;;) {
            const avicap::FrameWait wait = device_.nextFrame(deadline, frame);
            if (wait.outcome == avicap::FrameWait::Outcome::Failed)
                result.failure = "the capture device failed: " + device_.failure();
            if (wait.outcome != avicap::FrameWait::Outcome::Frame) break;
            ++result.readoutFrames;
            const protocol::FrameStep step = protocol::takeFrame(selection, frame, height);
            if (step.level != protocol::NO_LEVEL) writeLevel(static_cast<std::uint8_t>(step.level));
            if (step.chosen) {
                result.imageChosen = true;
                result.image.assign(frame.begin(), frame.end());
                break;
            }
            // A field pass that kept no field ends the readout without an image.
            if (step.stop) break;
        }
        device_.endStream();
        if (const char *missing = protocol::missingField(selectionStep))
            result.failure = std::string("the ") + missing + " field did not arrive in the readout stream";
    }
    writeLevel(PORT_IDLE);
    step_ = Step::Idle;
    amplifierOnDue_ = false;
    result.measured = lastExposure(port_.writes());
    if (!result.imageChosen && result.failure.empty())
        result.failure = result.readoutFrames == 0 ? "no frame from the device within the readout's time limit"
                                                   : "the stream ended before the image was chosen";
    return result;
}

void ExposureEngine::abort() {
    writeLevel(PORT_IDLE);
    step_ = Step::Idle;
    amplifierOnDue_ = false;
}

void ExposureEngine::writeLevel(std::uint8_t level) { port_.write(CAMERA_PORT_ADDRESS, level); }

}  // namespace plat::engine
