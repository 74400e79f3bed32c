// The engine until the platform's port and capture devices can be linked
// without its window system: the camera's levels on a port of its own, and
// a readout of three frames at the camera's video rate, on the real clock.
#include <camport.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "camera_factory.h"
#include "imagelog/log_format.h"

namespace noctil::indi {

namespace {

constexpr plat::Micros kFramePeriod = 40000;
constexpr int kReadoutFrames = 3;

class StandInCamera final : public ConnectedCamera {
public:
    explicit StandInCamera(std::string backend) : backend_(std::move(backend)) { write(PORT_IDLE); }
    ~StandInCamera() override { write(PORT_IDLE); }

    std::vector<std::string> formats() const override { return {"640x480 RGB24"}; }
    std::size_t formatIndex() const override { return 0; }
    bool selectFormat(std::size_t index) override { return index == 0; }
    ReadoutMode readout() const override { return ReadoutMode::WholeFrame; }
    FrameSize frameSize() const override { return {640, 480}; }
    Image liveImage() override { return {640, 480, 1, std::vector<std::uint8_t>(640 * 480, 16)}; }

    ExposureOutcome expose(const ExposureRequest &request, AbortSignal &abort,
                           const std::function<void(Phase)> &phase) override {
        ExposureOutcome o;
        o.requested = request.length;
        o.portBackend = backend_;
        o.format = formats()[0];
        o.exposeStart = write(PORT_EXPOSE);
        phase(Phase::Integrating);
        if (abort.waitUntil(clock_, o.exposeStart + request.length)) return aborted(o);
        o.exposeEnd = write(PORT_READOUT);
        phase(Phase::ReadingOut);
        for (int frame = 1; frame <= kReadoutFrames; ++frame)
            if (abort.waitUntil(clock_, o.exposeEnd + frame * kFramePeriod)) return aborted(o);
        o.readoutFrame = clock_.now();
        o.readoutFrames = kReadoutFrames;
        write(PORT_IDLE);
        o.utcOffset = plat::utcOffset(clock_);
        o.image.width = 640;
        o.image.height = 480;
        o.image.samples.assign(640 * 480, 16);
        o.end = ExposureOutcome::End::Image;
        return o;
    }

private:
    ExposureOutcome aborted(ExposureOutcome o) {
        write(PORT_IDLE);
        o.end = ExposureOutcome::End::Aborted;
        return o;
    }
    plat::Micros write(std::uint8_t level) {
        const plat::Micros now = clock_.now();
        if (traceFd_ >= 0) {
            char line[96];
            const int n = std::snprintf(line, sizeof line, "%lld\t%s\t%02X\n", static_cast<long long>(now),
                                        plat::imagelog::formatUtc(now + plat::utcOffset(clock_)).c_str(), level);
            // The trace is a diagnostic: a line it cannot take is left out.
            const ssize_t ignored = ::write(traceFd_, line, static_cast<std::size_t>(n));
            (void)ignored;
        }
        return now;
    }

    std::string backend_;
    plat::RealClock clock_;
    int traceFd_ = [] {
        const char *path = std::getenv("NOCTIL_PORT_TRACE");
        return path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644) : -1;
    }();
};

}  // namespace

std::unique_ptr<ConnectedCamera> connectCamera(const CameraSettings &settings, std::string &failure) {
    if (settings.portBackend != "simulated" || settings.captureDevice != "simcam") {
        failure = "only the simulated port and camera are available in this build";
        return nullptr;
    }
    return std::make_unique<StandInCamera>(settings.portBackend);
}

void restPortAtStart(const CameraSettings &settings) { StandInCamera rest(settings.portBackend); }

}  // namespace noctil::indi
