// Figures of a real V4L2 device through the capture window, as the exposure
// cycle uses it (run in the virtual machine on the kernel's vivid driver):
//   - frames per second a 2-second readout stream delivers, against the
//     device's nominal rate;
//   - the time from the end of an exposure (the moment the stream is asked
//     for) to the first frame handed to the video-stream callback.
// Prints the figures; the case that runs it checks only that frames came.
//
//   vm_v4l2_figures DESCRIPTION [CYCLES]
#include <windows.h>
#include <vfw.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/session.h"
#include "display/display.h"
#include "test_session.h"

namespace {

std::vector<plat::Micros> frameTimes;
int stopAfter = 0;

LRESULT CALLBACK onFrame(HWND window, LPVIDEOHDR) {
    frameTimes.push_back(plat::session().clock().now());
    if (stopAfter && static_cast<int>(frameTimes.size()) >= stopAfter) SendMessageA(window, WM_CAP_STOP, 0, 0);
    return TRUE;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DESCRIPTION [CYCLES]\n", argv[0]);
        return 2;
    }
    const std::string wanted = argv[1];
    const int cycles = argc > 2 ? std::atoi(argv[2]) : 30;
    noctil::test::TestSession session("noctil-figures", noctil::test::SessionClock::Real);

    int index = -1;
    for (int i = 0; i < 10 && index < 0; ++i) {
        char name[80], version[100];
        if (capGetDriverDescriptionA(static_cast<UINT>(i), name, sizeof name, version, sizeof version) &&
            wanted == name)
            index = i;
    }
    if (index < 0) {
        std::fprintf(stderr, "no capture driver '%s'\n", wanted.c_str());
        return 1;
    }
    HWND window = capCreateCaptureWindowA("Capture Window", 0, 0, 0, 160, 120, nullptr, 0);
    if (!SendMessageA(window, WM_CAP_DRIVER_CONNECT, static_cast<WPARAM>(index), 0)) {
        std::fprintf(stderr, "cannot connect '%s'\n", wanted.c_str());
        return 1;
    }
    CAPSTATUS status{};
    SendMessageA(window, WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status));
    CAPTUREPARMS parms{};
    SendMessageA(window, WM_CAP_GET_SEQUENCE_SETUP, sizeof parms, reinterpret_cast<LPARAM>(&parms));
    parms.dwRequestMicroSecPerFrame = 33000;
    parms.fCaptureAudio = FALSE;
    parms.fLimitEnabled = TRUE;
    parms.wTimeLimit = 2;
    SendMessageA(window, WM_CAP_SET_SEQUENCE_SETUP, sizeof parms, reinterpret_cast<LPARAM>(&parms));
    SendMessageA(window, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&onFrame));
    plat::Clock &clock = plat::session().clock();
    std::printf("device: %s, %u x %u\n", wanted.c_str(), status.uiImageWidth, status.uiImageHeight);

    // Delivered rate: whole 2-second streams ended by the time limit.
    std::vector<double> rates;
    for (int i = 0; i < 3; ++i) {
        frameTimes.clear();
        stopAfter = 0;
        SendMessageA(window, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        if (frameTimes.size() < 2) {
            std::fprintf(stderr, "the device delivered %zu frames in 2 s\n", frameTimes.size());
            return 1;
        }
        rates.push_back(static_cast<double>(frameTimes.size() - 1) * 1e6 /
                        static_cast<double>(frameTimes.back() - frameTimes.front()));
    }
    std::printf("frames per second delivered: %.2f %.2f %.2f\n", rates[0], rates[1], rates[2]);

    // First readout frame: the stream is asked for at a moment unrelated to
    // the device's frames, as an exposure timer's expiry is.
    std::mt19937 random(7);
    std::vector<double> firstMs;
    for (int i = 0; i < cycles; ++i) {
        clock.sleepUntil(clock.now() + 200000 + static_cast<plat::Micros>(random() % 40000));
        frameTimes.clear();
        stopAfter = 1;
        const plat::Micros asked = clock.now();
        SendMessageA(window, WM_CAP_SEQUENCE_NOFILE, 0, 0);
        if (frameTimes.empty()) {
            std::fprintf(stderr, "cycle %d: no frame\n", i);
            return 1;
        }
        firstMs.push_back(static_cast<double>(frameTimes.front() - asked) / 1000.0);
    }
    std::printf("exposure end to first readout frame (ms), %d cycles: p50 %.1f  p90 %.1f  max %.1f\n", cycles,
                percentile(firstMs, 0.5), percentile(firstMs, 0.9), percentile(firstMs, 1.0));
    DestroyWindow(window);
    return 0;
}
