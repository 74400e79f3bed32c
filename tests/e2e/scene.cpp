#include "scene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace noctil::e2e {

namespace {

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

const plat::avicap::SkySettings kSettings{};

}  // namespace

double Image::boxMean(int x, int y, int size) const {
    double sum = 0;
    for (int j = y; j < y + size; ++j)
        for (int i = x; i < x + size; ++i) sum += at(i, j);
    return sum / (size * size);
}

double Image::boxExcess(int x, int y) const {
    std::vector<double> ring;
    for (int j = y - 7; j <= y + 7; ++j)
        for (int i = x - 7; i <= x + 7; ++i)
            if (std::max(std::abs(i - x), std::abs(j - y)) >= 5) ring.push_back(at(i, j));
    return boxMean(x - 1, y - 1, 3) - median(std::move(ring));
}

Image imageFromDib24(const BITMAPINFOHEADER &header, std::span<const std::uint8_t> rows) {
    Image image;
    image.width = header.biWidth;
    image.height = std::abs(header.biHeight);
    const std::size_t stride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
    if (header.biBitCount != 24 || rows.size() < stride * static_cast<std::size_t>(image.height)) return {};
    image.pixels.resize(static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y) {
        const int memoryRow = header.biHeight > 0 ? image.height - 1 - y : y;
        const std::uint8_t *row = rows.data() + static_cast<std::size_t>(memoryRow) * stride;
        for (int x = 0; x < image.width; ++x) image.pixels[static_cast<std::size_t>(y * image.width + x)] = row[3 * x];
    }
    return image;
}

Image imageFromBgr24(std::span<const std::uint8_t> frames, int width, int height, std::size_t index) {
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    if (frames.size() < (index + 1) * bytes) return {};
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(bytes / 3);
    const std::uint8_t *p = frames.data() + index * bytes;
    for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = p[3 * i];
    return image;
}

Scene::Scene(int width, int height) {
    sky_.build(width, height, kSettings);
    // Stars are sparse: the median of a row is its sky background.
    std::vector<double> row(static_cast<std::size_t>(sky_.width()));
    for (int y = 0; y < sky_.height(); ++y) {
        for (int x = 0; x < sky_.width(); ++x) row[static_cast<std::size_t>(x)] = sky_.light(x, y);
        rowSky_.push_back(median(row));
    }
}

double Scene::level(int x, int y, Integration t) const {
    return kSettings.bias + kSettings.gain * (sky_.light(x, y) * t.lightSeconds + sky_.glow(x, y) * t.glowSeconds);
}

Image Scene::expected(Integration t) const {
    Image image;
    image.width = width();
    image.height = height();
    image.pixels.reserve(static_cast<std::size_t>(width()) * static_cast<std::size_t>(height()));
    for (int y = 0; y < height(); ++y)
        for (int x = 0; x < width(); ++x) image.pixels.push_back(level(x, y, t));
    return image;
}

bool Scene::faintStar(double minRate, double maxRate, int &x, int &y) const {
    Image light = expected({1.0, 0.0});  // bias + light for one second
    for (int j = 10; j < height() - 10; ++j)
        for (int i = 10; i < width() - 10; ++i) {
            const double centre = light.at(i, j);
            bool peak = true;
            for (int dj = -1; dj <= 1 && peak; ++dj)
                for (int di = -1; di <= 1; ++di)
                    if ((di || dj) && light.at(i + di, j + dj) >= centre) peak = false;
            if (!peak || sky_.glow(i, j) > 0.05) continue;
            const double excess = light.boxExcess(i, j);
            if (excess < minRate || excess > maxRate) continue;
            // Nothing but sky in the ring: its pixels stay within a tenth
            // of an electron per second of each other.
            double lo = 1e9, hi = -1e9;
            for (int dj = -7; dj <= 7; ++dj)
                for (int di = -7; di <= 7; ++di)
                    if (std::max(std::abs(di), std::abs(dj)) >= 5) {
                        lo = std::min(lo, light.at(i + di, j + dj));
                        hi = std::max(hi, light.at(i + di, j + dj));
                    }
            if (hi - lo > 0.1) continue;
            x = i;
            y = j;
            return true;
        }
    return false;
}

Scene::Match Scene::compare(const Image &image, Integration t) const {
    Match m;
    if (image.width != width() || image.height != height()) return {1e9, 1e9, 0};
    double sum = 0;
    for (int y = 0; y < height(); ++y)
        for (int x = 0; x < width(); ++x) {
            const double want = level(x, y, t);
            if (want < 8 || want > 247) continue;  // the noise may have been clipped
            const double d = image.at(x, y) - want;
            m.maxAbs = std::max(m.maxAbs, std::abs(d));
            sum += d;
            ++m.compared;
        }
    m.mean = m.compared ? sum / static_cast<double>(m.compared) : 0;
    return m;
}

double Scene::cornerGlow(int size, double glowSeconds) const {
    double sum = 0;
    for (int y = height() - size; y < height(); ++y)
        for (int x = width() - size; x < width(); ++x) sum += sky_.glow(x, y) * kSettings.gain * glowSeconds;
    return sum / (size * size);
}

}  // namespace noctil::e2e
