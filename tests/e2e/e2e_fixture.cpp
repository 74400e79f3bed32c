#include "e2e_fixture.h"

#include <cmath>
#include <cstring>
#include <fstream>

#include "avicap/installed_simcam.h"
#include "avifile/avi_reader.h"
#include "core/session.h"
#include "files/paths.h"
#include "port/parallel_port.h"
#include "user/window_system.h"

namespace noctil::e2e {

namespace {

bool integrationLevel(std::uint8_t v) { return (v & 0x0B) == 0x0B; }
bool readoutLevel(std::uint8_t v) { return (v & 0x0A) == 0x08; }

// The simulated camera, passed through, noting what each frame it captures
// carries. The capture window hands every frame captured during a streaming
// capture to the video-stream callback just as it was captured, so these
// notes are what the callback receives.
class WatchedCamera final : public plat::avicap::ClockPacedDriver {
public:
    explicit WatchedCamera(std::shared_ptr<WatchLog> log)
        : ClockPacedDriver(plat::session().clock()),
          log_(std::move(log)),
          camera_(plat::avicap::makeInstalledSimulatedCamera(plat::session().clock(),
                                                             plat::session().component<plat::ParallelPort>())) {}
    ~WatchedCamera() override { close(); }

    std::string description() const override { return camera_->description(); }
    std::string version() const override { return camera_->version(); }
    bool open() override {
        if (!camera_->open()) return false;
        open_ = true;
        ++log_->opens;
        return true;
    }
    void close() override {
        if (!open_) return;
        open_ = false;
        ++log_->closes;
        // Let go by the capture window (its destruction or another driver):
        // the sequence parameters it held are the last this driver ran under.
        if (HWND window = log_->programRunning ? EndToEndTest::captureWindowHandle() : nullptr) {
            CAPTUREPARMS parms{};
            if (SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, sizeof parms, reinterpret_cast<LPARAM>(&parms)))
                log_->parmsAtClose = parms;
        }
        camera_->close();
    }
    plat::avicap::DriverCaps caps() const override { return camera_->caps(); }
    std::span<const BITMAPINFOHEADER> formats() const override { return camera_->formats(); }
    std::size_t formatIndex() const override { return camera_->formatIndex(); }
    bool selectFormat(std::size_t index) override { return camera_->selectFormat(index); }
    bool videoSourceDialog(HWND owner) override { return camera_->videoSourceDialog(owner); }
    bool videoFormatDialog(HWND owner) override { return camera_->videoFormatDialog(owner); }
    void stopRequested(plat::avicap::StreamControl &stream) override { camera_->stopRequested(stream); }

    std::size_t captureFrame(plat::Micros time, std::span<std::uint8_t> frame) override {
        const std::size_t used = camera_->captureFrame(time, frame);
        note(time, frame.first(used));
        return used;
    }

private:
    // Sky pixels (no star, no glow) of the current format, with their light.
    void prepare(int width, int height) {
        if (scene_ && scene_->width() == width && scene_->height() == height) return;
        scene_ = std::make_unique<Scene>(width, height);
        sky_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0.0f);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (std::abs(scene_->starLight(x, y)) < 0.05 && scene_->glow(x, y) < 0.01)
                    sky_[static_cast<std::size_t>(y * width + x)] = static_cast<float>(scene_->light(x, y));
    }

    void note(plat::Micros time, std::span<const std::uint8_t> frame) {
        const BITMAPINFOHEADER &f = format();
        const int width = f.biWidth, height = std::abs(f.biHeight);
        FrameRecord r;
        r.time = time;
        r.port = plat::session().component<plat::ParallelPort>().data();
        r.width = width;
        r.height = height;
        if (HWND window = log_->programRunning ? EndToEndTest::captureWindowHandle() : nullptr) {
            CAPSTATUS status{};
            SendMessageA(window, WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status));
            r.streamed = status.fCapturingNow != 0;
        }
        if (frame.empty()) {
            log_->frames.push_back(r);
            return;
        }
        prepare(width, height);
        const bool yuv = f.biCompression == plat::avicap::kFourccYUY2;
        const bool bottomUp = !yuv && f.biHeight > 0;
        const std::size_t stride = frame.size() / static_cast<std::size_t>(height);
        const int step = yuv ? 2 : 3;
        double charge[2] = {0, 0}, rate[2] = {0, 0};
        for (int row = 0; row < height; ++row) {
            const int y = bottomUp ? height - 1 - row : row;
            const std::uint8_t *p = frame.data() + static_cast<std::size_t>(row) * stride;
            for (int x = 0; x < width; ++x) {
                const float light = sky_[static_cast<std::size_t>(y * width + x)];
                if (light <= 0) continue;
                charge[row & 1] += p[x * step] - Scene::kBias;
                rate[row & 1] += light;
            }
        }
        r.evenSeconds = rate[0] > 0 ? charge[0] / rate[0] : 0;
        r.oddSeconds = rate[1] > 0 ? charge[1] / rate[1] : 0;
        log_->frames.push_back(r);
    }

    std::shared_ptr<WatchLog> log_;
    std::unique_ptr<plat::avicap::ClockPacedDriver> camera_;
    bool open_ = false;
    std::unique_ptr<Scene> scene_;
    std::vector<float> sky_;
};

}  // namespace

std::shared_ptr<WatchLog> registerWatchedCamera() {
    auto log = std::make_shared<WatchLog>();
    plat::avicap::registerDriverFactory("watchcam", [log] { return std::make_unique<WatchedCamera>(log); });
    return log;
}

std::vector<PortExposure> portExposures() {
    constexpr plat::Micros kNone = -1;
    std::vector<PortExposure> exposures;
    plat::Micros start = kNone, ampOn = kNone;  // integration began; the amplifier came on
    std::uint8_t previous = 0;
    for (const plat::PortWrite &w : plat::session().component<plat::ParallelPort>().writes()) {
        if (w.address != 0x378) continue;
        if (integrationLevel(w.value)) {
            if (!integrationLevel(previous)) start = ampOn = kNone;
            if (start == kNone) start = w.time;
            if (w.value & 0x04)
                ampOn = kNone;
            else if (ampOn == kNone)
                ampOn = w.time;
        } else if (start != kNone && readoutLevel(w.value)) {
            PortExposure e;
            e.startMs = static_cast<std::uint32_t>(start / 1000);
            e.integration.lightSeconds = static_cast<double>(w.time - start) / 1e6;
            e.integration.glowSeconds = ampOn != kNone ? static_cast<double>(w.time - ampOn) / 1e6 : 0.0;
            exposures.push_back(e);
            start = kNone;
        } else {
            start = kNone;
        }
        previous = w.value;
    }
    return exposures;
}

EndToEndTest::EndToEndTest() {
    // The machine of these tests has a second drive, D:, as a telescope
    // computer with a data disk has.
    std::filesystem::create_directories(plat::driveDirectory('d'));
    observer_ = plat::user::subscribe([this](HWND window, plat::user::Change change) {
        const plat::user::Window *w = plat::user::find(window);
        if (change != plat::user::Change::Text || !w || w->className != "NoctilSnapshotClass") return;
        titles.push_back(w->text);
        titleTimesMs.push_back(nowMs());
        if (onTitle) onTitle(w->text);
    });
}

EndToEndTest::~EndToEndTest() { plat::user::unsubscribe(observer_); }

void EndToEndTest::installWatchedCamera() {
    camera = registerWatchedCamera();
    std::ofstream out(plat::windowsDirectory() / "system.ini", std::ios::binary);
    out << "[drivers32]\r\nmsvideo=watchcam\r\n";
}

int EndToEndTest::runProgram() {
    if (camera) camera->programRunning = true;
    const int code = AppTest::runProgram();
    if (camera) camera->programRunning = false;
    return code;
}

std::uint8_t EndToEndTest::portLevel() { return plat::session().component<plat::ParallelPort>().data(); }

HWND EndToEndTest::captureWindowHandle() {
    HWND main = mainWindow();
    if (!main) return nullptr;
    for (HWND child : plat::user::children(main)) {
        const plat::user::Window *w = plat::user::find(child);
        if (w && w->text == "Capture Window") return child;
    }
    return nullptr;
}

std::vector<Image> readImages(const std::filesystem::path &file, BITMAPINFOHEADER *format) {
    std::vector<Image> images;
    auto reader = plat::avi::Reader::open(file);
    if (!reader) return images;
    if (format && reader->format().size() >= sizeof(BITMAPINFOHEADER))
        std::memcpy(format, reader->format().data(), sizeof(BITMAPINFOHEADER));
    std::vector<std::uint8_t> dib;
    for (std::size_t i = 0; i < reader->frameCount(); ++i) {
        if (!reader->decodeToDib24(i, dib) || dib.size() < sizeof(BITMAPINFOHEADER)) break;
        BITMAPINFOHEADER h;
        std::memcpy(&h, dib.data(), sizeof h);
        images.push_back(imageFromDib24(h, std::span(dib).subspan(sizeof h)));
    }
    return images;
}

}  // namespace noctil::e2e
