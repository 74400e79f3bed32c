// The camera the driver connects: the port with the backend its settings
// name, the capture device watching it, the engine on both, all on the real
// clock; let go in reverse order, the lines at rest.
#include "camera_factory.h"

#include <camport.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "avicap/simcam.h"
#include "camera_engine.h"
#include "core/notices.h"
#include "core/observer_list.h"
#include "core/utc.h"
#include "imagelog/log_format.h"
#include "port/parallel_port.h"
#include "port/port_backend.h"

namespace noctil::indi {

namespace {

// The [parallel] settings as the driver's properties give them.
plat::PortSettings portSettings(const CameraSettings &s) {
    plat::PortSettings settings;
    settings.source = "the driver's port properties";
    settings.values = {{"backend", s.portBackend}, {"device", s.portDevice}, {"address", s.portAddress}};
    return settings;
}

// The port's writes, each as it is logged, to the trace file that
// NOCTIL_PORT_TRACE names: the driver's clock in microseconds, UTC, the level.
class PortTrace {
public:
    PortTrace(plat::Clock &clock, plat::ParallelPort &port) : clock_(clock), port_(port) {
        const char *path = std::getenv("NOCTIL_PORT_TRACE");
        if (path == nullptr) return;
        fd_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ >= 0) subscription_ = port_.subscribe([this](const plat::PortWrite &w) { traced(w); });
    }
    ~PortTrace() {
        subscription_ = {};
        if (fd_ >= 0) ::close(fd_);
    }

private:
    void traced(const plat::PortWrite &w) {
        if (w.address != CAMERA_PORT_ADDRESS) return;
        char line[96];
        const int n = std::snprintf(line, sizeof line, "%lld\t%s\t%02X\n", static_cast<long long>(w.time),
                                    plat::imagelog::formatUtc(w.time + plat::utcOffset(clock_)).c_str(), w.value);
        // The trace is a diagnostic: a line it cannot take is left out.
        (void)!::write(fd_, line, static_cast<std::size_t>(n));
    }

    plat::Clock &clock_;
    plat::ParallelPort &port_;
    int fd_ = -1;
    plat::Subscription subscription_;
};

// The port alone, at rest from its first write; why it cannot be used, if so.
class RestedPort {
public:
    explicit RestedPort(const CameraSettings &settings)
        : port_(clock_, notices_, plat::makeConfiguredPortBackend(portSettings(settings), {})), trace_(clock_, port_) {
        port_.write(CAMERA_PORT_ADDRESS, PORT_IDLE);
    }
    ~RestedPort() { port_.write(CAMERA_PORT_ADDRESS, PORT_IDLE); }
    // Empty while the port works; else its device and why, as the port's
    // message box gives them in its second paragraph.
    std::string failure() const {
        const std::string &message = port_.failureMessage();
        const std::size_t from = message.find("\n\n"), to = message.find("\n\n", from + 2);
        return from == std::string::npos ? message : message.substr(from + 2, to - from - 2);
    }

protected:
    plat::RealClock clock_;
    plat::Notices notices_;
    plat::ParallelPort port_;
    PortTrace trace_;
};

class Connected final : public RestedPort, public ConnectedCamera {
public:
    Connected(const CameraSettings &settings, std::unique_ptr<plat::avicap::ClockPacedDriver> device)
        : RestedPort(settings), device_(std::move(device)) {}
    // The simulated camera watches this port: made once the port is.
    static std::unique_ptr<Connected> simulated(const CameraSettings &settings) {
        auto camera = std::unique_ptr<Connected>(new Connected(settings, nullptr));
        camera->device_ = plat::avicap::makeSimulatedCamera(camera->clock_, camera->port_);
        if (!camera->device_->open()) return nullptr;
        camera->engine_ = std::make_unique<CameraEngine>(camera->clock_, camera->port_, *camera->device_,
                                                         std::string(camera->port_.backend().name()));
        return camera;
    }
    ~Connected() override {
        engine_.reset();
        if (device_) device_->close();
    }

    std::vector<std::string> formats() const override { return engine_->formats(); }
    std::size_t formatIndex() const override { return engine_->formatIndex(); }
    bool selectFormat(std::size_t index) override { return engine_->selectFormat(index); }
    ReadoutMode readout() const override { return engine_->readout(); }
    FrameSize frameSize() const override { return engine_->frameSize(); }
    Image liveImage() override { return engine_->liveImage(); }
    ExposureOutcome expose(const ExposureRequest &request, AbortSignal &abort,
                           const std::function<void(Phase)> &phase) override {
        return engine_->expose(request, abort, phase);
    }

private:
    std::unique_ptr<plat::avicap::ClockPacedDriver> device_;
    std::unique_ptr<CameraEngine> engine_;
};

}  // namespace

std::unique_ptr<ConnectedCamera> connectCamera(const CameraSettings &settings, std::string &failure) {
    if (settings.captureDevice != "simcam") {
        failure = "the capture device " + settings.captureDevice +
                  " is not one the driver can open yet: only the simulated camera (simcam)";
        return nullptr;
    }
    std::unique_ptr<Connected> camera = Connected::simulated(settings);
    if (!camera) {
        failure = "the simulated camera did not open";
        return nullptr;
    }
    if (const std::string why = camera->failure(); !why.empty()) {
        failure = why;
        return nullptr;
    }
    return camera;
}

void restPortAtStart(const CameraSettings &settings) { RestedPort rest(settings); }

}  // namespace noctil::indi
