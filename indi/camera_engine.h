// The camera's exposure on the platform's exposure engine (platform/engine/),
// which carries out the camera's protocol (camera/) on a port and a capture
// device: the integration level (the amplifier off but for the last second
// when asked), the readout stream with its levels and the frames it keeps,
// rest after it, the exposure measured on the port's log as the image log
// measures it. Here it is waited for with an abort at hand, and its image
// made into what INDI sends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "camera_factory.h"
#include "core/clock.h"
#include "engine/exposure_engine.h"
#include "port/parallel_port.h"

namespace noctil::indi {

class CameraEngine final : public ConnectedCamera {
public:
    // `driver` is open; `portBackend` names the port's backend for the
    // header. All of them outlive the engine.
    CameraEngine(plat::Clock &clock, plat::ParallelPort &port, plat::avicap::Driver &driver, std::string portBackend);

    std::vector<std::string> formats() const override;
    std::size_t formatIndex() const override { return driver_.formatIndex(); }
    bool selectFormat(std::size_t index) override { return driver_.selectFormat(index); }
    ReadoutMode readout() const override;
    FrameSize frameSize() const override;
    Image liveImage() override;
    // An abort while the lines integrate rests them at once; one during the
    // readout, when the stream has ended (at most the protocol's time limit).
    ExposureOutcome expose(const ExposureRequest &request, AbortSignal &abort,
                           const std::function<void(Phase)> &phase) override;

private:
    plat::Clock &clock_;
    plat::avicap::Driver &driver_;
    plat::engine::ExposureEngine engine_;
    std::string portBackend_;
    // Live video's frame, as large as any frame a driver delivers.
    std::vector<std::uint8_t> frame_;
};

// The kept image in `format` (24-bit RGB, YUY2 ...) as INDI sends it: one
// plane when its three channels are equal, else planes R, G, B; top row
// first. Empty (width 0) when the format is not one the decoder knows.
Image imageOf(const BITMAPINFOHEADER &format, std::span<const std::uint8_t> kept);

}  // namespace noctil::indi
