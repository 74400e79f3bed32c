// The fixture of the end-to-end tests: the real program on a fresh machine,
// with the simulated camera installed behind a watching driver that notes
// every frame it captures for the capture window, so a test sees the frames
// the program's video-stream callback receives; output files read back by
// ffprobe, ffmpeg and the platform's own AVI reader.
#pragma once

#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app_test.h"
#include "core/clock.h"
#include "scene.h"

namespace noctil::e2e {

// One frame the watched camera captured.
struct FrameRecord {
    plat::Micros time = 0;
    std::uint8_t port = 0;  // the camera port's level as the frame was captured
    bool streamed = false;  // captured for a streaming capture (so handed to the callback)
    int width = 0, height = 0;
    // Seconds of sky light the frame's background shows, in memory rows of
    // even and of odd number (the two fields of 480-line video).
    double evenSeconds = 0, oddSeconds = 0;
};

struct WatchLog {
    std::vector<FrameRecord> frames;
    // The capture window's sequence parameters as the driver was let go.
    std::optional<CAPTUREPARMS> parmsAtClose;
    int opens = 0, closes = 0;
    // While the program runs; afterwards the driver no longer looks at
    // windows (the platform may be ending with it).
    bool programRunning = false;
};

// Registers "watchcam": the simulated camera, watched. Returns its log.
std::shared_ptr<WatchLog> registerWatchedCamera();

// One exposure as the port log shows it: from the integration level to the
// first readout level.
struct PortExposure {
    std::uint32_t startMs = 0;
    Integration integration;
};
std::vector<PortExposure> portExposures();

class EndToEndTest : public noctil::test::AppTest {
public:
    // The capture window the program made, or null.
    static HWND captureWindowHandle();

protected:
    EndToEndTest();
    ~EndToEndTest() override;

    // WinMain as the process start calls it; the watched camera watches
    // only while it runs.
    int runProgram();

    // Installs the watched camera as driver 0.
    void installWatchedCamera();
    std::shared_ptr<WatchLog> camera;

    // Every text the snapshot window's title took, in order, with the
    // virtual time it was set; `onTitle` runs after each.
    std::vector<std::string> titles;
    std::vector<std::uint32_t> titleTimesMs;
    std::function<void(const std::string &)> onTitle;

    // The port's level now.
    static std::uint8_t portLevel();

private:
    int observer_ = 0;
};

// Images of an output AVI file decoded by the platform's reader.
std::vector<Image> readImages(const std::filesystem::path &file, BITMAPINFOHEADER *format = nullptr);

}  // namespace noctil::e2e
