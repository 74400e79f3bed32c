// Figures for the Qt display on the real clock, with the real program on the
// simulated camera: start-up to a responsive main window, the live preview's
// rate and how far the screen lags behind the video, and memory over a long
// preview. Prints figures; judges nothing.
//
//   display_bench [seconds of preview, default 60]
//
// Runs on whatever Qt platform is at hand: QT_QPA_PLATFORM=offscreen, or a
// virtual X display (xvfb-run).
#include <windows.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <vector>

#include "core/session.h"
#include "display/qt/qt_display_impl.h"
#include "resources/resources.h"
#include "user/window_system.h"
#include "test_session.h"

namespace {

using Clock = std::chrono::steady_clock;

// Processor time the process has used, user and system, in milliseconds.
double cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

long residentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Counts the paints of one widget and when they happened.
class PaintCounter final : public QObject {
public:
    std::vector<Clock::time_point> paints;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint) paints.push_back(Clock::now());
        return false;
    }
};

// The Qt display, with the benchmark's person acting at set times.
class BenchDisplay final : public plat::Display {
public:
    BenchDisplay(Clock::time_point processStart, double previewSeconds)
        : start_(processStart), previewSeconds_(previewSeconds), qt_(std::make_unique<plat::qt::QtDisplay>()) {}

    void wait(std::optional<plat::Micros> deadline) override {
        act();
        // Wake at least every 100 ms so the person's steps come on time.
        const plat::Micros now = plat::session().clock().now();
        plat::Micros until = now + 100'000;
        if (deadline) until = std::min(until, *deadline);
        qt_->wait(until);
    }
    void poll() override { qt_->poll(); }
    void beep(unsigned type) override { qt_->beep(type); }

    void report() const;

private:
    void act();
    HWND captureWindow() const;

    Clock::time_point start_;
    double previewSeconds_;
    std::unique_ptr<plat::qt::QtDisplay> qt_;
    std::optional<double> startupMs_;
    std::optional<Clock::time_point> previewStart_;
    double previewCpuMs_ = 0;
    bool closed_ = false;
    HWND main_ = nullptr;
    PaintCounter counter_;
    std::vector<std::pair<Clock::time_point, std::uint64_t>> frames_;  // model frames as they were drawn
    int observer_ = 0;
    struct Sample {
        double seconds;
        long rssKiB;
        std::uint64_t modelFrames;
        std::size_t paints;
    };
    std::vector<Sample> samples_;
};

HWND BenchDisplay::captureWindow() const {
    for (HWND child : plat::user::children(main_))
        if (plat::user::paintSurface(child)) return child;
    return nullptr;
}

void BenchDisplay::act() {
    if (closed_) return;
    if (!main_) main_ = FindWindowA("NoctilWndClass", nullptr);
    QWidget *frame = main_ ? qt_->widgetOf(main_) : nullptr;
    if (!startupMs_) {
        // Responsive: the main window is on screen with its menu bar, and
        // the loop has come back to wait for a person.
        if (!frame || !frame->isVisible() || !qt_->menuBarOf(main_)) return;
        startupMs_ = msSince(start_);
        for (QAction *a : qt_->menuBarOf(main_)->actions().at(1)->menu()->actions())
            if (a->text() == "&Preview") a->trigger();
        previewStart_ = Clock::now();
        previewCpuMs_ = cpuMs();
        observer_ = plat::user::subscribe([this](HWND window, plat::user::Change change) {
            if (change != plat::user::Change::Painted || window != captureWindow()) return;
            frames_.emplace_back(Clock::now(), plat::user::paintSurface(window)->serial);
        });
        return;
    }
    if (HWND capture = captureWindow(); capture && counter_.paints.empty() && qt_->widgetOf(capture))
        if (!qt_->widgetOf(capture)->property("benchCounted").isValid()) {
            qt_->widgetOf(capture)->installEventFilter(&counter_);
            qt_->widgetOf(capture)->setProperty("benchCounted", true);
        }
    const double seconds = msSince(*previewStart_) / 1000;
    if (samples_.empty() || seconds - samples_.back().seconds >= 5)
        samples_.push_back({seconds, residentKiB(), frames_.size(), counter_.paints.size()});
    if (seconds >= previewSeconds_) {
        plat::user::unsubscribe(observer_);
        previewCpuMs_ = cpuMs() - previewCpuMs_;
        closed_ = true;
        frame->close();
    }
}

void BenchDisplay::report() const {
    std::printf("start-up to a responsive main window: %.0f ms\n", startupMs_.value_or(-1));
    if (samples_.size() < 3) return;
    std::printf("\n%8s %10s %12s %12s\n", "time s", "RSS KiB", "video fps", "painted fps");
    for (std::size_t i = 1; i < samples_.size(); ++i) {
        const Sample &a = samples_[i - 1], &b = samples_[i];
        const double span = b.seconds - a.seconds;
        std::printf("%8.0f %10ld %12.1f %12.1f\n", b.seconds, b.rssKiB, (b.modelFrames - a.modelFrames) / span,
                    (b.paints - a.paints) / span);
    }
    // How old the newest video frame is when the screen shows it: for each
    // paint, the time since the latest frame drawn before it.
    std::vector<double> ages;
    std::size_t f = 0;
    for (const auto &paint : counter_.paints) {
        while (f + 1 < frames_.size() && frames_[f + 1].first <= paint) ++f;
        if (!frames_.empty() && frames_[f].first <= paint)
            ages.push_back(std::chrono::duration<double, std::milli>(paint - frames_[f].first).count());
    }
    std::sort(ages.begin(), ages.end());
    if (!ages.empty())
        std::printf("\nframe age when painted: median %.1f ms, 99th percentile %.1f ms, max %.1f ms (%zu paints)\n",
                    ages[ages.size() / 2], ages[ages.size() * 99 / 100], ages.back(), ages.size());
    // Frames the screen skipped: model serials that never reached a paint.
    std::uint64_t skipped = 0;
    for (std::size_t i = 1; i < frames_.size(); ++i) skipped += frames_[i].second - frames_[i - 1].second - 1;
    const Sample &warm = samples_[std::min<std::size_t>(2, samples_.size() - 1)], &last = samples_.back();
    const double minutes = (last.seconds - warm.seconds) / 60;
    const double total =
        frames_.size() > 1 ? std::chrono::duration<double>(frames_.back().first - frames_.front().first).count() : 0;
    std::printf("video frames drawn by the capture window: %zu over %.1f s (%.2f/s; nominal 25/s), serial gaps %llu\n",
                frames_.size(), total, total > 0 ? (frames_.size() - 1) / total : 0.0,
                static_cast<unsigned long long>(skipped));
    std::printf("paints of the video widget: %zu\n", counter_.paints.size());
    if (!frames_.empty())
        std::printf("processor time during the preview: %.0f ms, %.2f ms per video frame (camera, program, display)\n",
                    previewCpuMs_, previewCpuMs_ / frames_.size());
    if (minutes > 0)
        std::printf("resident memory: %ld KiB after %.0f s, %ld KiB at %.0f s: %+.1f KiB per minute\n", warm.rssKiB,
                    warm.seconds, last.rssKiB, last.seconds, (last.rssKiB - warm.rssKiB) / minutes);
}

}  // namespace

int main(int argc, char **argv) {
    const Clock::time_point start = Clock::now();
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
    auto owned = std::make_unique<BenchDisplay>(start, seconds);
    BenchDisplay *display = owned.get();
    int code = -1;
    {
        noctil::test::TestSession session("noctil-bench", noctil::test::SessionClock::Real, std::move(owned));
        static char commandLine[] = "";
        code = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL);
        std::printf("program exit code %d\n", code);
        display->report();
    }
    return code;
}
