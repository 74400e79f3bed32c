#include "image.h"

#include <cstdio>

namespace noctil::stack {

FieldMode fieldModeForHeight(std::uint32_t height) {
    return height == 480 || height == 576 ? FieldMode::Fields : FieldMode::WholeFrame;
}

void describe(const FrameFormat &f, char *out, std::size_t size) {
    std::snprintf(out, size, "%ux%u %s, %s", f.width, f.height, f.channels == 1 ? "grey" : "colour",
                  f.fieldMode == FieldMode::Fields ? "field mode" : "whole-frame mode");
}

std::string describe(const FrameFormat &f) {
    char text[96];
    describe(f, text, sizeof text);
    return text;
}

bool toPlanes(const ImageIn &image, std::span<float> out) {
    const FrameFormat &f = image.format;
    const std::size_t stride = dibRowBytes(f.width), pixels = std::size_t(f.width) * f.height;
    if (image.rows.size() < stride * f.height || out.size() < pixels * std::size_t(f.channels)) return false;
    for (std::uint32_t y = 0; y < f.height; ++y) {
        const std::uint8_t *p = image.rows.data() + stride * y;
        float *row = out.data() + std::size_t(y) * f.width;
        if (f.channels == 1) {
            for (std::uint32_t x = 0; x < f.width; ++x) row[x] = p[3 * x];
        } else {
            for (std::uint32_t x = 0; x < f.width; ++x) {
                row[x] = p[3 * x + 2];
                row[pixels + x] = p[3 * x + 1];
                row[2 * pixels + x] = p[3 * x];
            }
        }
    }
    return true;
}

bool rowsAreGrey(std::span<const std::uint8_t> rows, std::uint32_t width, std::uint32_t height) {
    const std::size_t stride = dibRowBytes(width);
    if (rows.size() < stride * height) return false;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t *p = rows.data() + stride * y;
        for (std::uint32_t x = 0; x < width; ++x, p += 3)
            if (p[0] != p[1] || p[1] != p[2]) return false;
    }
    return true;
}

}  // namespace noctil::stack
