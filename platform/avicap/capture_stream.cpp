#include "avicap/capture_stream.h"

#include <cstdio>

#include "avifile/avi_library.h"
#include "core/session.h"
#include "port/parallel_port.h"

namespace plat::avicap {

namespace {

// The output file a run is writing now, by its serial; 0 for none.
std::uint64_t runBeingWritten() { return avi::newestFileBeingWritten(); }

// The exposures the session's port has ended so far (0 without a port).
std::uint64_t exposuresEnded() {
    const ParallelPort *port = session().findComponent<ParallelPort>();
    return port ? port->exposuresEnded() : 0;
}

// Why the exposure that the port ended last was not carried; "" when it was.
const char *lastExposureLoss() {
    const ParallelPort *port = session().findComponent<ParallelPort>();
    if (!port || port->lastExposureCarried()) return "";
    return port->lossReason().empty() ? "the camera port did not carry the exposure" : port->lossReason().c_str();
}

}  // namespace

CaptureStream::CaptureStream(HWND window, std::shared_ptr<Driver> driver, const CAPVIDEOCALLBACK &callback,
                             std::span<std::uint8_t> frame, std::span<std::uint8_t> extraFrame,
                             StreamProgress &progress, Clock &clock, StreamRecords &records)
    : window_(window),
      driver_(std::move(driver)),
      callback_(callback),
      frame_(frame),
      extraFrame_(extraFrame),
      progress_(progress),
      clock_(clock),
      records_(records) {}

// Hands one captured frame to the video-stream callback.
void CaptureStream::deliver(std::span<std::uint8_t> frame, std::size_t used) {
    VIDEOHDR header{};
    header.lpData = frame.data();
    header.dwBufferLength = static_cast<DWORD>(frame.size());
    header.dwBytesUsed = static_cast<DWORD>(used);
    header.dwTimeCaptured = toMillis(clock_.now() - progress_.start);
    header.dwFlags = VHDR_DONE | VHDR_KEYFRAME;
    ++progress_.framesDelivered;
    records_.frame(clock_.now());
    if (callback_) callback_(window_, &header);
}

bool CaptureStream::run(const CAPTUREPARMS &parms, avi::Writer *file) {
    progress_.running = true;
    progress_.framesDelivered = 0;
    progress_.start = clock_.now();
    records_.begin(driver_, file != nullptr, progress_.start);
    // A readout ends its exposure at its first frame (the callback writes the readout level).
    const std::uint64_t exposuresBefore = exposuresEnded();
    std::optional<Micros> deadline;
    if (parms.fLimitEnabled) deadline = progress_.start + Micros{parms.wTimeLimit} * 1000000;
    bool writeFailed = false;

    if (!driver_->startStream(parms.dwRequestMicroSecPerFrame)) {
        deviceFailed_ = true;
    } else {
        for (;;) {
            const FrameWait wait = driver_->nextFrame(deadline, frame_);
            if (wait.outcome == FrameWait::Outcome::TimedOut) break;
            if (wait.outcome == FrameWait::Outcome::Failed) {
                deviceFailed_ = true;
                break;
            }
            deliver(frame_, wait.bytesUsed);
            if (!IsWindow(window_)) break;
            if (file && !abortRequested_ && !writeFailed && !file->append(frame_.first(wait.bytesUsed))) {
                writeFailed = true;
                std::fprintf(stderr, "capture window: writing frame %u of the capture file failed\n",
                             static_cast<unsigned>(progress_.framesDelivered));
            }
            if (stopRequested_) break;
        }
        driver_->endStream();
    }
    if (file) file->finish();
    if (!file && exposuresEnded() != exposuresBefore)
        std::snprintf(portLoss_, sizeof portLoss_, "%s", lastExposureLoss());
    StreamEnd how;
    how.stopRequested = stopRequested_;
    how.aborted = abortRequested_;
    how.deviceFailed = deviceFailed_;
    how.failureCode = deviceFailed_ ? driver_->failureCode() : 0;
    how.limitSeconds = parms.fLimitEnabled ? parms.wTimeLimit : 0;
    if (portLoss_[0] != '\0') how.portLoss = portLoss_;
    records_.end(how, runBeingWritten());
    progress_.elapsedMs = toMillis(clock_.now() - progress_.start);
    progress_.running = false;
    return !writeFailed && !deviceFailed_ && portLoss_[0] == '\0';
}

void CaptureStream::requestStop(bool abort) {
    stopRequested_ = true;
    if (abort) abortRequested_ = true;
    std::shared_ptr<Driver> driver = driver_;
    driver->stopRequested(*this);
}

// A frame a driver delivers from inside a stop request goes to the callback
// only: the capture file ends with the frame the stop was asked on, so that
// whatever the callback left in that frame is the file's last word.
bool CaptureStream::deliverExtraFrame() {
    if (!progress_.running || deliveringExtra_ || extraFrame_.empty()) return false;
    deliveringExtra_ = true;
    const std::size_t used = driver_->grabFrame(extraFrame_);
    if (used) deliver(extraFrame_, used);
    deliveringExtra_ = false;
    return used != 0;
}

}  // namespace plat::avicap
