#include "avifile/dib_decode.h"

#include <algorithm>
#include <array>
#include <cstdlib>

#include "avifile/riff.h"

namespace plat::avi {

namespace {

// Largest width and height accepted; beyond anything a capture card gives, and
// it keeps every size computation far from overflow.
constexpr std::uint32_t kMaxSide = 1u << 15;

std::uint8_t clamp255(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }

// Limited-range BT.601, the colours of analogue video digitised to 4:2:2.
void yuvToBgr(int y, int u, int v, std::uint8_t *out) {
    const int c = 298 * (y - 16) + 128;
    const int d = u - 128, e = v - 128;
    out[0] = clamp255((c + 516 * d) >> 8);
    out[1] = clamp255((c - 100 * d - 208 * e) >> 8);
    out[2] = clamp255((c + 409 * e) >> 8);
}

}  // namespace

std::uint64_t dib24Stride(std::uint32_t width) { return (std::uint64_t(width) * 3 + 3) & ~std::uint64_t(3); }

void putDib24Header(std::uint8_t *out, std::uint32_t width, std::uint32_t height) {
    std::fill_n(out, kDib24HeaderBytes, 0);
    put32(out, kDib24HeaderBytes);
    put32(out + 4, width);
    put32(out + 8, height);
    put16(out + 12, 1);
    put16(out + 14, 24);
    put32(out + 16, kBiRgb);
    put32(out + 20, std::uint32_t(dib24Stride(width) * height));
}

bool sourceLayout(std::span<const std::uint8_t> format, SourceLayout &layout) {
    if (format.size() < 40) return false;
    const std::uint8_t *h = format.data();
    const std::uint32_t biSize = get32(h);
    const std::int32_t width = std::int32_t(get32(h + 4));
    const std::int32_t height = std::int32_t(get32(h + 8));
    const std::uint16_t bitCount = get16(h + 14);
    const std::uint32_t compression = get32(h + 16);
    if (biSize < 40 || biSize > format.size()) return false;
    if (width <= 0 || std::uint32_t(width) > kMaxSide) return false;
    if (height == 0 || height < -std::int32_t(kMaxSide) || height > std::int32_t(kMaxSide)) return false;
    layout.width = std::uint32_t(width);
    layout.height = std::uint32_t(std::abs(height));
    const std::uint64_t w = layout.width;
    switch (compression) {
    case kBiRgb:
        if (bitCount == 8)
            layout.kind = SourceLayout::Kind::Palette8;
        else if (bitCount == 24)
            layout.kind = SourceLayout::Kind::Bgr24;
        else if (bitCount == 32)
            layout.kind = SourceLayout::Kind::Bgrx32;
        else
            return false;
        layout.stride = (w * bitCount + 31) / 32 * 4;
        layout.bottomUp = height > 0;
        break;
    case kYuy2:
    case kYuyv:
    case kUyvy:
        layout.kind = compression == kUyvy ? SourceLayout::Kind::Uyvy : SourceLayout::Kind::Yuyv;
        layout.stride = (w + 1) / 2 * 4;
        layout.bottomUp = false;
        break;
    case kY800:
    case kY8:
    case kGrey: {
        layout.kind = SourceLayout::Kind::Grey;
        // Grey rows are packed, one byte a pixel; some writers pad each row
        // to four bytes instead, which the image size then tells.
        const std::uint64_t padded = (w + 3) / 4 * 4;
        const std::uint32_t sizeImage = get32(h + 20);
        layout.stride = padded != w && sizeImage == padded * layout.height ? padded : w;
        layout.bottomUp = false;
        break;
    }
    default: return false;
    }
    layout.frameBytes = layout.stride * layout.height;
    return true;
}

bool decodeToDib24(std::span<const std::uint8_t> format, std::span<const std::uint8_t> frame,
                   std::vector<std::uint8_t> &dib) {
    SourceLayout src;
    if (!sourceLayout(format, src) || frame.size() < src.frameBytes) return false;
    // Grey rows padded to four bytes under an image size that does not say
    // so: a frame of exactly the padded rows' size has them.
    if (src.kind == SourceLayout::Kind::Grey) {
        const std::uint64_t padded = (std::uint64_t(src.width) + 3) / 4 * 4;
        if (src.stride != padded && frame.size() == padded * src.height) {
            src.stride = padded;
            src.frameBytes = padded * src.height;
        }
    }

    // The colour table of an 8-bit image: the format's entries (biClrUsed, 0
    // meaning 256), as many as the format really carries; grey without one.
    std::array<std::array<std::uint8_t, 3>, 256> table{};
    if (src.kind == SourceLayout::Kind::Palette8) {
        const std::uint32_t biSize = get32(format.data());
        std::uint32_t entries = get32(format.data() + 32);
        if (entries == 0 || entries > 256) entries = 256;
        entries = std::min<std::uint64_t>(entries, (format.size() - biSize) / 4);
        if (entries == 0) {
            for (int i = 0; i < 256; ++i) table[i] = {std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
        } else {
            for (std::uint32_t i = 0; i < entries; ++i) {
                const std::uint8_t *q = format.data() + biSize + 4 * i;
                table[i] = {q[0], q[1], q[2]};
            }
        }
    }

    const std::uint64_t outStride = dib24Stride(src.width);
    // Every byte is written below, the rows' padding included, so the
    // storage's earlier contents need no clearing first.
    dib.resize(kDib24HeaderBytes + outStride * src.height);
    std::uint8_t *out = dib.data();
    putDib24Header(out, src.width, src.height);

    for (std::uint32_t row = 0; row < src.height; ++row) {
        // Output rows are bottom-up: row 0 is the bottom line of the picture.
        const std::uint32_t srcRow = src.bottomUp ? row : src.height - 1 - row;
        const std::uint8_t *s = frame.data() + srcRow * src.stride;
        std::uint8_t *d = out + kDib24HeaderBytes + row * outStride;
        std::fill(d + std::size_t(src.width) * 3, d + outStride, 0);
        switch (src.kind) {
        case SourceLayout::Kind::Palette8:
            for (std::uint32_t x = 0; x < src.width; ++x, d += 3) std::copy_n(table[s[x]].data(), 3, d);
            break;
        case SourceLayout::Kind::Bgr24: std::copy_n(s, std::size_t(src.width) * 3, d); break;
        case SourceLayout::Kind::Bgrx32:
            for (std::uint32_t x = 0; x < src.width; ++x, d += 3) std::copy_n(s + 4 * x, 3, d);
            break;
        case SourceLayout::Kind::Grey:
            for (std::uint32_t x = 0; x < src.width; ++x, d += 3) d[0] = d[1] = d[2] = s[x];
            break;
        case SourceLayout::Kind::Yuyv:
        case SourceLayout::Kind::Uyvy: {
            // Each 4 bytes carry two pixels: Y0 U Y1 V (YUY2) or U Y0 V Y1 (UYVY).
            const bool uyvy = src.kind == SourceLayout::Kind::Uyvy;
            for (std::uint32_t x = 0; x < src.width; ++x, d += 3) {
                const std::uint8_t *pair = s + (x / 2) * 4;
                const int y = uyvy ? pair[1 + 2 * (x & 1)] : pair[2 * (x & 1)];
                const int u = uyvy ? pair[0] : pair[1];
                const int v = uyvy ? pair[2] : pair[3];
                yuvToBgr(y, u, v, d);
            }
            break;
        }
        }
    }
    return true;
}

}  // namespace plat::avi
