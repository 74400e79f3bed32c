// The live stack's benchmark: per image at 720x576 colour and 640x480 grey,
// the whole path (calibrate, find stars, match, warp, accumulate, stretch and
// render the view), as processor time of the thread and wall time, median
// and 99th percentile; the heap blocks per image after the first; and SEP,
// a well-kept detection library, on the same frames as an oracle: its time
// and how many of its detections are hot pixels, beside ours. Prints
// figures, judges nothing, and is not a test.
#include <stddef.h>  // sep.h uses size_t without including its header

// sep.h declares C functions without saying so to C++.
extern "C" {
#include <sep.h>
}
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "malloc_count.h"
#include "stack/masters.h"
#include "sky_generator.h"
#include "stack/stacker.h"
#include "stack/stars.h"
#include "stack/stretch.h"

namespace {

double threadMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}
double wallMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Figures {
    double median, p99;
};
Figures figures(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min(v.size() - 1, std::size_t(q * double(v.size() - 1) + 0.5))]; };
    return {at(0.5), at(0.99)};
}

// Of `found` (x, y) detections, how many sit on a hot pixel with no star near.
template <typename Xs>
int onHotPixels(const skytest::SkyGenerator &gen, const skytest::Pose &pose, const Xs &found) {
    int n = 0;
    for (const auto &[x, y] : found)
        for (const auto &hp : gen.hotPixels())
            if (std::hypot(x - hp.x, y - hp.y) < 1.0) {
                bool star = false;
                for (const auto &t : gen.stars()) {
                    const auto p = skytest::SkyGenerator::place(gen.sky(), pose, t.x, t.y);
                    star = star || std::hypot(p.x - hp.x, p.y - hp.y) < 4;
                }
                n += !star;
                break;
            }
    return n;
}

void run(const char *name, skytest::Sky sky, int images) {
    const skytest::SkyGenerator gen(sky);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> shift(-60, 60), turn(-0.5, 0.5);
    std::vector<skytest::Shot> shots;
    std::vector<skytest::Pose> poses;
    for (int i = 0; i < images; ++i) {
        poses.push_back(i == 0 ? skytest::Pose{} : skytest::Pose{shift(rng), shift(rng) * 0.5, turn(rng)});
        const std::optional<skytest::Trail> trail =
            i % 10 == 7 ? std::optional(skytest::Trail{0, 100, double(sky.width), 300, 5}) : std::nullopt;
        shots.push_back(gen.shoot(poses.back(), 4.0, 3.0, 1000 + std::uint64_t(i), trail));
        shots.back().number = std::uint32_t(i + 1);
    }
    std::vector<skytest::Shot> darkShots;
    std::vector<noctil::stack::ImageIn> darkIns;
    for (int i = 0; i < 5; ++i) darkShots.push_back(gen.dark(4.0, 3.0, 50 + std::uint64_t(i)));
    for (const auto &d : darkShots) darkIns.push_back(d.in());
    noctil::stack::Library lib;
    lib.darks.push_back(noctil::stack::makeMaster(noctil::stack::MasterKind::Dark, darkShots[0].format, darkIns));
    lib.darks.back().name = "bench dark";

    noctil::stack::Stacker stacker({}, std::move(lib));
    noctil::stack::Stretcher stretcher;
    stretcher.reserve(std::size_t(sky.width) * sky.height);
    std::vector<std::uint8_t> view(noctil::stack::dibRowBytes(sky.width) * sky.height);
    std::vector<double> cpu, wall;
    cpu.reserve(std::size_t(images)), wall.reserve(std::size_t(images));  // counted as heap otherwise
    bench::HeapCount heap;
    int stacked = 0, ourStars = 0, ourHot = 0;
    for (int i = 0; i < images; ++i) {
        if (i == 1) bench::startHeapCount();
        const double c0 = threadMs(), w0 = wallMs();
        const auto &r = stacker.add(shots[std::size_t(i)].in());
        const noctil::stack::StackView s = stacker.stack();
        const noctil::stack::StretchLevels levels = stretcher.automatic(s.planes, s.format);
        stretcher.render(s.planes, s.format, levels, view);
        cpu.push_back(threadMs() - c0), wall.push_back(wallMs() - w0);
        stacked += r.stacked;
    }
    heap = bench::stopHeapCount();

    // Our detections alone, and SEP's, on each frame's luminance.
    noctil::stack::StarFinder finder;
    finder.reserve(sky.width, sky.height);
    std::vector<float> planes(std::size_t(sky.width) * sky.height * std::size_t(sky.channels)),
        lum(std::size_t(sky.width) * sky.height);
    std::vector<double> ourMs, sepMs;
    int sepFound = 0, sepHot = 0;
    sep_set_extract_pixstack(1'000'000);
    for (int i = 0; i < images; ++i) {
        noctil::stack::toPlanes(shots[std::size_t(i)].in(), planes);
        const std::size_t px = lum.size();
        for (std::size_t k = 0; k < px; ++k)
            lum[k] = sky.channels == 1 ? planes[k] : (planes[k] + planes[px + k] + planes[2 * px + k]) / 3;
        double c0 = threadMs();
        const auto stars = finder.find(lum, sky.width, sky.height);
        ourMs.push_back(threadMs() - c0);
        std::vector<std::pair<double, double>> ours;
        for (const auto &st : stars) ours.push_back({st.x, st.y});
        ourStars += int(ours.size());
        ourHot += onHotPixels(gen, poses[std::size_t(i)], ours);

        std::vector<float> work = lum;
        c0 = threadMs();
        sep_image image{work.data(), nullptr,        nullptr,         nullptr, SEP_TFLOAT,     0,   0,
                        0,           int(sky.width), int(sky.height), 0.0,     SEP_NOISE_NONE, 1.0, 0.0};
        sep_bkg *bkg = nullptr;
        sep_catalog *cat = nullptr;
        std::vector<std::pair<double, double>> theirs;
        if (sep_background(&image, 64, 64, 3, 3, 0.0, &bkg) == 0) {
            const float rms = sep_bkg_globalrms(bkg);
            sep_bkg_subarray(bkg, work.data(), SEP_TFLOAT);
            const float conv[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
            if (sep_extract(&image, 5.0f * rms, SEP_THRESH_ABS, 5, conv, 3, 3, SEP_FILTER_CONV, 32, 0.005, 1, 1.0,
                            &cat) == 0)
                for (int k = 0; k < cat->nobj; ++k) theirs.push_back({cat->x[k], cat->y[k]});
        }
        sepMs.push_back(threadMs() - c0);
        sep_catalog_free(cat);
        sep_bkg_free(bkg);
        sepFound += int(theirs.size());
        sepHot += onHotPixels(gen, poses[std::size_t(i)], theirs);
    }

    const Figures c = figures(cpu), w = figures(wall), o = figures(ourMs), sp = figures(sepMs);
    std::printf("%s, %d images, %d stacked\n", name, images, stacked);
    std::printf("  whole path per image   cpu median %6.1f ms  p99 %6.1f ms   wall median %6.1f ms  p99 %6.1f ms\n",
                c.median, c.p99, w.median, w.p99);
    std::printf("  heap after the first   %llu blocks, %llu bytes in %d images\n", (unsigned long long)heap.blocks,
                (unsigned long long)heap.bytes, images - 1);
    std::printf(
        "  stars, ours            cpu median %6.1f ms  p99 %6.1f ms   %5.1f found per image, %d on hot pixels (%.1f "
        "%%)\n",
        o.median, o.p99, double(ourStars) / images, ourHot, 100.0 * ourHot / std::max(1, ourStars));
    std::printf(
        "  stars, SEP             cpu median %6.1f ms  p99 %6.1f ms   %5.1f found per image, %d on hot pixels (%.1f "
        "%%)\n",
        sp.median, sp.p99, double(sepFound) / images, sepHot, 100.0 * sepHot / std::max(1, sepFound));
}

}  // namespace

int main(int argc, char **argv) {
    const int images = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100;
    skytest::Sky pal;  // 720x576 colour, field mode, 300 hot pixels, noise 6
    run("720x576 RGB24", pal, images);
    skytest::Sky ntsc;
    ntsc.width = 640, ntsc.height = 480, ntsc.channels = 1, ntsc.noise = 8;
    run("640x480 grey", ntsc, images);
    return 0;
}
