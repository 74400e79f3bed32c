#include "bench_runs.h"

#include <windows.h>
#include <camport.h>
#include <vfw.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "core/session.h"
#include "display/display.h"
#include "files/paths.h"
#include "resource.h"
#include "resources/resources.h"
#include "bench_session.h"
#include "display/null_display.h"
#include "user/window_system.h"
#if NOCTIL_WITH_QT
#include "display/qt/qt_display.h"
#endif

namespace bench {

namespace {

constexpr int kCaptureMenuPosition = 2;
bool exposing(std::uint8_t value) { return (value & PORT_INTEGRATE_BITS) == PORT_INTEGRATE_BITS; }

// The person at the keyboard: Record as soon as the main window is there
// (after choosing the capture size), the close box once the run is over.
class BenchDisplay final : public plat::Display {
public:
    BenchDisplay(std::unique_ptr<plat::Display> inner, const RunConfig &config)
        : inner_(std::move(inner)), config_(config) {}

    void wait(std::optional<plat::Micros> deadline) override {
        if (act()) return;
        // With nothing due, come back soon to look at the run again.
        if (!deadline) deadline = plat::session().clock().now() + 20'000;
        inner_->wait(deadline);
    }
    void poll() override {
        if (!act()) inner_->poll();
    }
    void beep(unsigned type) override { inner_->beep(type); }

private:
    bool act() {
        if (closed_) return false;
        if (!main_) {
            main_ = FindWindowA("NoctilWndClass", nullptr);
            if (!main_) return false;
            chooseFormat();
            PostMessageA(main_, WM_COMMAND, IDM_RECORD, 0);
            return true;
        }
        const UINT record = GetMenuState(GetSubMenu(GetMenu(main_), kCaptureMenuPosition), IDM_RECORD, MF_BYCOMMAND);
        if (record & MF_GRAYED) {
            recording_ = true;
            return false;
        }
        if (!recording_) return false;
        PostMessageA(main_, WM_CLOSE, 0, 0);
        closed_ = true;
        return true;
    }

    void chooseFormat() {
        for (HWND child : plat::user::children(main_)) {
            BITMAPINFOHEADER f{};
            if (!SendMessageA(child, WM_CAP_GET_VIDEOFORMAT, sizeof f, reinterpret_cast<LPARAM>(&f))) continue;
            if (f.biWidth == config_.width && std::abs(f.biHeight) == config_.height) return;
            f.biWidth = config_.width;
            f.biHeight = config_.height;
            f.biSizeImage = 0;
            SendMessageA(child, WM_CAP_SET_VIDEOFORMAT, sizeof f, reinterpret_cast<LPARAM>(&f));
            // The program reads the capture size again when a menu opens.
            SendMessageA(main_, WM_INITMENU, reinterpret_cast<WPARAM>(GetMenu(main_)), 0);
            return;
        }
    }

    std::unique_ptr<plat::Display> inner_;
    RunConfig config_;
    HWND main_ = nullptr;
    bool recording_ = false, closed_ = false;
};

void writeSettings(const RunConfig &c) {
    std::ofstream ini(plat::windowsDirectory() / "Noctil.ini", std::ios::binary);
    ini << "[Filenames]\r\nImageFile=C:\\Bench.avi\r\n"
        << "[Flags]\r\nAutoIncrement=0\r\nAmpOff=0\r\n"
        << "[Capture]\r\nExposure=" << c.exposureMs << "\r\nDelay=" << c.delayMs << "\r\nCount=" << c.images
        << "\r\n[Driver]\r\nName=<none>\r\nPreviewMode=" << c.previewMode << "\r\n";
    if (c.liveStack) ini << "[LiveStack]\r\nOpen=1\r\n";
}

}  // namespace

double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

RunResult runProgram(const RunConfig &config) {
    RunResult result;
    std::unique_ptr<plat::Display> inner;
#if NOCTIL_WITH_QT
    if (config.qt) inner = plat::makeQtDisplay();
#endif
    if (!inner) inner = std::make_unique<plat::NullDisplay>();
    {
        BenchSession session(config.virtualClock, std::make_unique<BenchDisplay>(std::move(inner), config));
        writeSettings(config);
        plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
        int exposures = 0;
        bool counting = false;
        std::uint8_t last = port.data();
        const int countTo = config.images - 1;
        const plat::Subscription counter = port.subscribe([&](const plat::PortWrite &w) {
            if (exposing(w.value) && !exposing(last)) {
                if (exposures == config.countFrom) {
                    startHeapCount();
                    counting = true;
                } else if (counting && exposures == countTo) {
                    result.heap = stopHeapCount();
                    result.countedImages = countTo - config.countFrom;
                    counting = false;
                }
                ++exposures;
            }
            last = w.value;
        });
        const auto wallStart = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        static char commandLine[] = "";
        const int code = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL);
        result.cpuMs = cpuMs() - cpuStart;
        result.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart).count();
        if (counting) stopHeapCount();
        if (config.keepWrites) result.writes.assign(port.writes().begin(), port.writes().end());
        result.ok = code == 0 && exposures >= config.images;
    }
    return result;
}

}  // namespace bench
