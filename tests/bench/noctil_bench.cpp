// Noctil's performance figures, measured on the program's own code path:
// the exposure length error and the dead time between images on the real
// clock (without windows and with the Qt display), the simulated camera's frame,
// heap allocations per image, a long night on the virtual clock, and beside
// them their anchors: a plain clock_nanosleep to the same deadlines and
// ffmpeg muxing the same frames. Prints figures (min / median / max over
// repetitions); judges nothing.
//
//   noctil_bench [--reps N] [--night IMAGES] [--quick] [section ...]
//   sections: camera exposure qt-exposure deadtime livestack alloc qt-alloc night mux (default: all but the qt
//   ones)
//
// The Qt sections need a Qt platform: xvfb-run, or QT_QPA_PLATFORM=offscreen.
#include <windows.h>
#include <vfw.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "avicap/simcam.h"
#include "bench_runs.h"
#include "core/session.h"
#include "display/display.h"
#include "port/parallel_port.h"
#include "bench_session.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

int reps = 5;
bool quick = false;
int nightImages = 10000;

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size())));
    return v[i];
}

// One figure over the repetitions: min / median / max.
void line(const char *figure, const std::vector<double> &values, const char *unit, int decimals = 2) {
    if (values.empty()) {
        std::printf("  %-58s (no run)\n", figure);
        return;
    }
    std::vector<double> v = values;
    std::sort(v.begin(), v.end());
    std::printf("  %-58s min %.*f  median %.*f  max %.*f %s  (%zu runs)\n", figure, decimals, v.front(), decimals,
                v[v.size() / 2], decimals, v.back(), unit, v.size());
}

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

int count(int normal, int small) { return quick ? small : normal; }

bool exposing(std::uint8_t value) { return (value & 0x0B) == 0x0B; }

// Each exposure's length as the port held it (entering an exposure level to
// leaving it) minus the setting, in ms.
std::vector<double> exposureErrors(const std::vector<plat::PortWrite> &writes, int exposureMs) {
    std::vector<double> errors;
    std::uint8_t last = 0;
    plat::Micros entered = -1;
    for (const plat::PortWrite &w : writes) {
        if (exposing(w.value) && !exposing(last)) entered = w.time;
        if (!exposing(w.value) && exposing(last) && entered >= 0) {
            errors.push_back((w.time - entered) / 1000.0 - exposureMs);
            entered = -1;
        }
        last = w.value;
    }
    return errors;
}

// Exposure end to the next exposure's start, in ms.
std::vector<double> deadTimes(const std::vector<plat::PortWrite> &writes) {
    std::vector<double> dead;
    std::uint8_t last = 0;
    plat::Micros left = -1;
    for (const plat::PortWrite &w : writes) {
        if (!exposing(w.value) && exposing(last)) left = w.time;
        if (exposing(w.value) && !exposing(last) && left >= 0) dead.push_back((w.time - left) / 1000.0);
        last = w.value;
    }
    return dead;
}

// clock_nanosleep to absolute deadlines `ms` apart: how late it wakes, in ms.
std::vector<double> nanosleepOvershoot(int ms, int sleeps) {
    std::vector<double> late;
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    for (int i = 0; i < sleeps; ++i) {
        long long ns = t.tv_sec * 1'000'000'000LL + t.tv_nsec + ms * 1'000'000LL;
        t.tv_sec = ns / 1'000'000'000;
        t.tv_nsec = ns % 1'000'000'000;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0) {}
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        late.push_back(((now.tv_sec - t.tv_sec) * 1'000'000'000LL + (now.tv_nsec - t.tv_nsec)) / 1e6);
        t = now;  // the next deadline counts from the wake, like the next exposure
    }
    return late;
}

void exposureSection(bool qt) {
    const std::vector<int> lengths = qt ? std::vector<int>{2000, 10000} : std::vector<int>{500, 2000};
    std::printf(
        "\nexposure length error (port left the exposure level minus entered it, minus the setting), %s, "
        "preview on, delay 0\n",
        qt ? "Qt display" : "headless");
    for (int length : lengths) {
        const int images = length <= 500 ? count(20, 6) : length <= 2000 ? count(8, 4) : count(3, 2);
        std::vector<double> p50, p99, anchor50, anchor99;
        for (int r = 0; r < reps; ++r) {
            bench::RunConfig c;
            c.qt = qt;
            c.exposureMs = length;
            c.images = images;
            c.previewMode = 2;
            const bench::RunResult run = bench::runProgram(c);
            if (!run.ok) {
                std::printf("  run failed\n");
                continue;
            }
            const std::vector<double> e = exposureErrors(run.writes, length);
            p50.push_back(percentile(e, 50));
            p99.push_back(percentile(e, 99));
            const std::vector<double> a = nanosleepOvershoot(length, std::max(2, images / 2));
            anchor50.push_back(percentile(a, 50));
            anchor99.push_back(percentile(a, 99));
        }
        char name[96];
        std::snprintf(name, sizeof name, "%d ms exposures (%d a run): p50", length, images);
        line(name, p50, "ms", 3);
        std::snprintf(name, sizeof name, "%d ms exposures: p99", length);
        line(name, p99, "ms", 3);
        std::snprintf(name, sizeof name, "anchor: clock_nanosleep %d ms, overshoot p50", length);
        line(name, anchor50, "ms", 3);
        std::snprintf(name, sizeof name, "anchor: clock_nanosleep %d ms, overshoot p99", length);
        line(name, anchor99, "ms", 3);
    }
}

void deadTimeSection() {
    std::printf("\ndead time per image (exposure end to next exposure start), headless, delay 0, exposure 100 ms\n");
    struct Size {
        int width, height;
        double floorMs;
    };
    for (const Size &s : {Size{640, 480, 132}, Size{320, 240, 66}}) {
        std::vector<double> p50, worst;
        for (int r = 0; r < reps; ++r) {
            bench::RunConfig c;
            c.exposureMs = 100;
            c.images = count(30, 5);
            c.width = s.width;
            c.height = s.height;
            const bench::RunResult run = bench::runProgram(c);
            if (!run.ok) continue;
            const std::vector<double> d = deadTimes(run.writes);
            p50.push_back(percentile(d, 50));
            worst.push_back(percentile(d, 100));
        }
        char name[96];
        std::snprintf(name, sizeof name, "%dx%d (floor %.0f ms: the readout frames): median", s.width, s.height,
                      s.floorMs);
        line(name, p50, "ms");
        std::snprintf(name, sizeof name, "%dx%d: worst image", s.width, s.height);
        line(name, worst, "ms");
    }
}

// The dead time and the exposure error with the Live Stack window open:
// each image is stacked as the next exposure begins, so neither should move
// from the figures without it.
void liveStackSection() {
    std::printf("\nwith the Live Stack window open: headless, delay 0, exposure 100 ms, 640x480\n");
    std::vector<double> dead50, deadWorst, error50, error99;
    for (int r = 0; r < reps; ++r) {
        bench::RunConfig c;
        c.exposureMs = 100;
        c.images = count(30, 5);
        c.liveStack = true;
        const bench::RunResult run = bench::runProgram(c);
        if (!run.ok) continue;
        const std::vector<double> d = deadTimes(run.writes), e = exposureErrors(run.writes, 100);
        dead50.push_back(percentile(d, 50));
        deadWorst.push_back(percentile(d, 100));
        error50.push_back(percentile(e, 50));
        error99.push_back(percentile(e, 99));
    }
    line("dead time (floor 132 ms: the readout frames): median", dead50, "ms");
    line("dead time: worst image", deadWorst, "ms");
    line("exposure error: p50", error50, "ms", 3);
    line("exposure error: p99", error99, "ms", 3);
}

// The simulated camera alone, 640x480 24-bit, in a session of its own on
// the virtual or the real clock: `body` gets the port, the camera, a frame
// buffer and the clock.
template <typename Body>
void withCamera(bool virtualClock, Body body) {
    bench::BenchSession session(virtualClock);
    plat::ParallelPort &port = plat::session().component<plat::ParallelPort>();
    std::unique_ptr<plat::avicap::Driver> camera = plat::avicap::makeSimulatedCamera(plat::session().clock(), port);
    camera->open();
    camera->selectFormat(0);
    std::vector<std::uint8_t> frame(plat::avicap::frameBytes(camera->format()));
    body(port, *camera, frame, plat::session().clock());
    port.write(0x378, 0x00);
}

void cameraSection() {
    std::printf("\nsimulated camera, one 640x480 24-bit frame (processor time, mean over the frames of a run)\n");
    withCamera(true, [](plat::ParallelPort &port, plat::avicap::Driver &camera, std::vector<std::uint8_t> &frame,
                        plat::Clock &clock) {
        // Processor time of this thread: on a shared machine the wall
        // clock also counts the time other processes had the processor.
        const auto frameMs = [&](int frames) {
            const double start = threadCpuMs();
            for (int i = 0; i < frames; ++i) {
                clock.sleepUntil(clock.now() + plat::avicap::kVideoFrameMicros);
                camera.grabFrame(frame);
            }
            return (threadCpuMs() - start) / frames;
        };
        std::vector<double> live, dark, charged;
        for (int r = 0; r < reps; ++r) {
            port.write(0x378, 0x00);
            live.push_back(frameMs(count(300, 30)));
            port.write(0x378, 0x0B);
            dark.push_back(frameMs(count(300, 30)));
            double sum = 0;
            const int exposures = count(30, 5);
            for (int i = 0; i < exposures; ++i) {
                port.write(0x378, 0x0B);
                clock.sleepUntil(clock.now() + 2'000'000 + i);  // each exposure a charge of its own
                port.write(0x378, 0x08);
                sum += frameMs(1);
            }
            port.write(0x378, 0x00);
            charged.push_back(sum / exposures);
        }
        line("live frame", live, "ms", 3);
        line("dark frame (the sensor integrating; the first readout frame)", dark, "ms", 3);
        line("frame carrying a 2 s exposure", charged, "ms", 3);
    });

    // The same frames as the program meets them: one a frame period apart on
    // the real clock, so the camera's tables are no longer in the cache when
    // the next frame is made. Wall time of each grab, median of the run.
    const int frames = count(60, 10);
    std::printf("  the same, one frame every 33 ms on the real clock (wall time of each frame, median of %d)\n",
                frames);
    withCamera(false, [frames](plat::ParallelPort &port, plat::avicap::Driver &camera, std::vector<std::uint8_t> &frame,
                               plat::Clock &clock) {
        const auto frameWallMs = [&] {
            std::vector<double> each;
            for (int i = 0; i < frames; ++i) {
                clock.sleepUntil(clock.now() + plat::avicap::kVideoFrameMicros);
                const auto start = SteadyClock::now();
                camera.grabFrame(frame);
                each.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
            }
            return percentile(each, 50);
        };
        std::vector<double> live, dark;
        for (int r = 0; r < reps; ++r) {
            port.write(0x378, 0x00);
            live.push_back(frameWallMs());
            port.write(0x378, 0x0B);
            dark.push_back(frameWallMs());
        }
        line("live frame, real clock", live, "ms", 3);
        line("dark frame, real clock", dark, "ms", 3);
    });
}

void allocSection(bool qt) {
    std::printf("\nheap allocations per image (whole process, including the one image block), %s\n",
                qt ? "Qt display, real clock" : "headless, virtual clock");
    for (int preview : {0, 2}) {
        if (qt && preview == 0) continue;
        std::vector<double> blocks, mib;
        for (int r = 0; r < reps; ++r) {
            bench::RunConfig c;
            c.virtualClock = !qt;
            c.qt = qt;
            c.exposureMs = 2000;
            c.previewMode = preview;
            c.images = qt ? count(7, 4) : count(30, 8);
            c.countFrom = qt ? 2 : 4;
            c.keepWrites = false;
            const bench::RunResult run = bench::runProgram(c);
            if (!run.ok || run.countedImages <= 0) continue;
            blocks.push_back(static_cast<double>(run.heap.blocks) / run.countedImages);
            mib.push_back(static_cast<double>(run.heap.bytes) / run.countedImages / (1 << 20));
        }
        line(preview ? "2 s images, live preview on: blocks" : "2 s images, no preview: blocks", blocks, "", 1);
        line(preview ? "2 s images, live preview on: MiB" : "2 s images, no preview: MiB", mib, "MiB", 2);
    }
}

void nightSection() {
    const int images = quick ? 300 : nightImages;
    std::printf("\n%d images on the virtual clock, exposure 100 ms, delay 0, headless, no preview\n", images);
    std::vector<double> cpu, wall, perImage;
    for (int r = 0; r < reps; ++r) {
        bench::RunConfig c;
        c.virtualClock = true;
        c.exposureMs = 100;
        c.images = images;
        c.keepWrites = false;
        const bench::RunResult run = bench::runProgram(c);
        if (!run.ok) continue;
        cpu.push_back(run.cpuMs / 1000);
        wall.push_back(run.wallMs / 1000);
        perImage.push_back(run.cpuMs / images);
    }
    line("processor time", cpu, "s", 1);
    line("wall time", wall, "s", 1);
    line("processor time per image", perImage, "ms", 2);
}

// Our AVI writer through the program's AVI calls against ffmpeg, muxing the
// same camera frames into an uncompressed AVI.
void muxSection() {
    const int frames = count(200, 20);
    std::printf("\nappend: %d frames of 640x480 24-bit into an AVI file (per frame)\n", frames);
    char dir[] = "/tmp/noctil-bench-XXXXXX";
    if (!mkdtemp(dir)) return;
    const std::string raw = std::string(dir) + "/frames.raw";
    std::vector<std::vector<std::uint8_t>> images;
    {
        bench::BenchSession session(std::filesystem::path(dir) / "root");
        std::unique_ptr<plat::avicap::Driver> camera = plat::avicap::makeSimulatedCamera(
            plat::session().clock(), plat::session().component<plat::ParallelPort>());
        camera->open();
        camera->selectFormat(0);
        std::ofstream out(raw, std::ios::binary);
        for (int i = 0; i < frames; ++i) {
            std::vector<std::uint8_t> frame(plat::avicap::frameBytes(camera->format()));
            plat::session().clock().sleepUntil(plat::session().clock().now() + 33333);
            camera->grabFrame(frame);
            out.write(reinterpret_cast<const char *>(frame.data()), static_cast<std::streamsize>(frame.size()));
            images.push_back(std::move(frame));
        }
    }
    std::vector<double> ours, ffmpeg;
    for (int r = 0; r < reps; ++r) {
        bench::BenchSession session(std::filesystem::path(dir) / "root");
        const std::string name = std::string(dir) + "/ours.avi";
        const auto start = SteadyClock::now();
        AVIFileInit();
        PAVIFILE file = nullptr;
        PAVISTREAM stream = nullptr;
        AVIFileOpenA(&file, name.c_str(), OF_WRITE | OF_CREATE, nullptr);
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 25;
        info.dwSuggestedBufferSize = 921600;
        AVIFileCreateStreamA(file, &stream, &info);
        BITMAPINFOHEADER format{sizeof(BITMAPINFOHEADER), 640, 480, 1, 24, BI_RGB, 921600, 0, 0, 0, 0};
        AVIStreamSetFormat(stream, 0, &format, sizeof format);
        for (int i = 0; i < frames; ++i)
            AVIStreamWrite(stream, i, 1, images[static_cast<std::size_t>(i)].data(), 921600, AVIIF_KEYFRAME, nullptr,
                           nullptr);
        AVIStreamRelease(stream);
        AVIFileRelease(file);
        AVIFileExit();
        ours.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count() / frames);

        const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s 640x480 -r 25 -i " + raw +
                                    " -c:v rawvideo -f avi " + dir + "/ffmpeg.avi";
        const auto fstart = SteadyClock::now();
        if (std::system(command.c_str()) != 0) {
            std::printf("  ffmpeg failed (is it installed?)\n");
            continue;
        }
        ffmpeg.push_back(std::chrono::duration<double, std::milli>(SteadyClock::now() - fstart).count() / frames);
    }
    line("the platform's AVI writer through AVIStreamWrite", ours, "ms", 3);
    line("anchor: ffmpeg -c:v rawvideo into AVI (whole process)", ffmpeg, "ms", 3);
    std::filesystem::remove_all(dir);
}

}  // namespace

int main(int argc, char **argv) {
    std::set<std::string> sections;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--reps") && i + 1 < argc)
            reps = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--night") && i + 1 < argc)
            nightImages = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--quick"))
            quick = true;
        else
            sections.insert(argv[i]);
    }
    if (sections.empty()) sections = {"camera", "exposure", "deadtime", "livestack", "alloc", "night", "mux"};
    std::printf("noctil_bench: %d repetitions%s\n", reps, quick ? ", quick counts" : "");
    const std::vector<std::pair<std::string, std::function<void()>>> all = {
        {"camera", cameraSection},
        {"exposure", [] { exposureSection(false); }},
        {"qt-exposure", [] { exposureSection(true); }},
        {"deadtime", deadTimeSection},
        {"livestack", liveStackSection},
        {"alloc", [] { allocSection(false); }},
        {"qt-alloc", [] { allocSection(true); }},
        {"night", nightSection},
        {"mux", muxSection},
    };
    for (const auto &[name, run] : all)
        if (sections.count(name)) {
            run();
            std::fflush(stdout);
        }
    return 0;
}
