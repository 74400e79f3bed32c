// One exposure of the camera, from its first level to its image, for a
// process with no window system: the camera's protocol (camera/) carried out
// on the port, the capture device and the clock it is given. It writes the
// exposure's levels, streams the readout through the protocol's selection,
// and hands back the chosen image with the exposure as the port's log
// measured it.
//
//   plat::VirtualClock clock;                    // or plat::RealClock
//   plat::Notices notices;                       // the port's words for a person
//   plat::ParallelPort port(clock, notices, plat::makeSimulatedPortBackend());
//   auto camera = plat::avicap::makeSimulatedCamera(clock, port);
//   camera->open();
//   plat::engine::ExposureEngine engine(clock, port, *camera);
//   plat::engine::Exposure image = engine.expose({.exposureMs = 10000, .ampOff = true});
//
// expose() returns when the image is read out, having slept on the clock
// through the exposure. A caller with a timer of its own (a driver process
// that answers requests meanwhile) calls start(), then advance() at or after
// nextStepAt() until it says the readout is due, then readOut(); abort()
// rests the lines at any point. Everything runs on the caller's thread; the
// port and the device must outlive the engine, and nothing else may write
// the port during an exposure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "core/clock.h"
#include "port/parallel_port.h"
#include "port/port_exposure.h"

namespace plat::engine {

struct ExposureSettings {
    std::int32_t exposureMs = 1000;
    // Holds the amplifier off for all but the last second of an exposure
    // longer than the protocol's AMPOFF_MIN_EXPOSURE_MS.
    bool ampOff = false;
};

// What one exposure gave.
struct Exposure {
    // False: the readout gave no image; `failure` says why.
    bool imageChosen = false;
    std::string failure;
    // The image in the device's frame format (`format`): 24-bit bottom-up
    // RGB or YUY2, as the device delivered its frames.
    BITMAPINFOHEADER format{};
    std::vector<std::uint8_t> image;
    // The exposure as the port's log shows it: from the first integration
    // level to the readout level, and the part with the amplifier off.
    std::optional<PortExposure> measured;
    // Frames the readout stream delivered, the one that ended the exposure
    // included.
    std::uint32_t readoutFrames = 0;
};

class ExposureEngine {
public:
    ExposureEngine(Clock &clock, ParallelPort &port, avicap::Driver &device);
    ~ExposureEngine();
    ExposureEngine(const ExposureEngine &) = delete;
    ExposureEngine &operator=(const ExposureEngine &) = delete;

    // start(), the steps as they fall due, readOut().
    Exposure expose(const ExposureSettings &settings);

    // Writes the exposure's first level; the next step is due at nextStepAt().
    void start(const ExposureSettings &settings);
    enum class Step {
        Idle,        // no exposure: start() one
        Exposing,    // the lines integrate until nextStepAt()
        ReadoutDue,  // the integration has run its time: readOut()
    };
    // Takes the step that is due by now (the amplifier's last second) and
    // says where the exposure stands.
    Step advance();
    Micros nextStepAt() const { return nextStepAt_; }
    // Streams the device until the protocol has chosen the image or the
    // stream's time limit passes, then rests the lines. The first frame ends
    // the integration, whenever it is called.
    Exposure readOut();
    // Rests the lines; an exposure in progress is dropped.
    void abort();

private:
    void writeLevel(std::uint8_t level);

    Clock &clock_;
    ParallelPort &port_;
    avicap::Driver &device_;
    Step step_ = Step::Idle;
    bool amplifierOnDue_ = false;
    Micros nextStepAt_ = 0;
    // The stream's frame and the kept image, sized to the device's largest frame once.
    std::vector<std::uint8_t> frame_, kept_;
};

}  // namespace plat::engine
