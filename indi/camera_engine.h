// The camera's exposure as the program takes it, on the platform's port and
// a capture driver, with the camera's protocol (camera/) deciding every
// level: the integration level (the amplifier off but for the last second
// when asked), the readout level at the first frame of the stream that
// follows, the frames kept by their measurement window (two fields on 480-
// and 576-line video), rest after the stream. The exposure is measured on
// the port's log as the image log measures it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "avicap/driver.h"
#include "camera_factory.h"
#include "core/clock.h"
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
    ExposureOutcome expose(const ExposureRequest &request, AbortSignal &abort,
                           const std::function<void(Phase)> &phase) override;

private:
    // Writes `level` to the camera's lines; returns when it was logged.
    plat::Micros write(int level);
    // The readout stream after the integration; false when aborted, with the
    // port at rest.
    bool readOut(ExposureOutcome &o, AbortSignal &abort, const std::function<void(Phase)> &phase);
    ExposureOutcome ended(ExposureOutcome o, ExposureOutcome::End end, std::string failure = {});

    plat::Clock &clock_;
    plat::ParallelPort &port_;
    plat::avicap::Driver &driver_;
    std::string portBackend_;
    // The stream's frame and the kept image, as large as any frame a driver
    // delivers: nothing is allocated per frame.
    std::vector<std::uint8_t> frame_, kept_;
};

// The kept image in `format` (24-bit RGB, YUY2 ...) as INDI sends it: one
// plane when its three channels are equal, else planes R, G, B; top row
// first. Empty (width 0) when the format is not one the decoder knows.
Image imageOf(const BITMAPINFOHEADER &format, std::span<const std::uint8_t> kept);

}  // namespace noctil::indi
