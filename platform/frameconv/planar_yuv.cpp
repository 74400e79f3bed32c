#include "frameconv/planar_yuv.h"

namespace plat::frameconv {

namespace {

struct Planes {
    std::uint64_t lumaBytes = 0;
    std::uint64_t chromaStride = 0;  // bytes per row of a chroma plane (of the pair plane for NV12/NV21)
    std::uint32_t chromaRows = 0;
    std::uint64_t chromaPlaneBytes = 0;
    bool pairs = false;      // one plane of interleaved pairs
    bool crFirst = false;    // Cr before Cb
    bool halfHeight = true;  // 4:2:0
};

Planes planesOf(const PlanarFrame &f) {
    Planes p;
    p.lumaBytes = std::uint64_t(f.bytesPerLine) * f.height;
    p.pairs = f.layout == PlanarLayout::Nv12 || f.layout == PlanarLayout::Nv21;
    p.crFirst = f.layout == PlanarLayout::Yv12 || f.layout == PlanarLayout::Nv21;
    p.halfHeight = f.layout != PlanarLayout::Yuv422p;
    p.chromaStride = p.pairs ? f.bytesPerLine : (std::uint64_t(f.bytesPerLine) + 1) / 2;
    p.chromaRows = p.halfHeight ? (f.height + 1) / 2 : f.height;
    p.chromaPlaneBytes = p.chromaStride * p.chromaRows;
    return p;
}

}  // namespace

std::optional<std::uint64_t> planarBytes(const PlanarFrame &f) {
    if (f.width == 0 || f.height == 0 || f.bytesPerLine < f.width) return std::nullopt;
    const Planes p = planesOf(f);
    // Pairs need a row of (width + 1) / 2 pairs within the row length.
    if (p.pairs && p.chromaStride < (std::uint64_t(f.width) + 1) / 2 * 2) return std::nullopt;
    return p.lumaBytes + (p.pairs ? 1 : 2) * p.chromaPlaneBytes;
}

bool planarToYuy2(const PlanarFrame &f, std::span<const std::uint8_t> source, std::span<std::uint8_t> out,
                  std::uint64_t outStride, std::uint32_t firstRow, std::uint32_t rowStep) {
    const std::optional<std::uint64_t> needed = planarBytes(f);
    if (!needed || source.size() < *needed || outStride < yuy2Stride(f.width) || rowStep == 0) return false;
    const std::uint64_t lastRow = firstRow + std::uint64_t(f.height - 1) * rowStep;
    if (out.size() < (lastRow + 1) * outStride) return false;

    const Planes p = planesOf(f);
    const std::uint8_t *luma = source.data();
    const std::uint8_t *chroma = luma + p.lumaBytes;
    // Cb and Cr of chroma sample i in chroma row c.
    const std::uint8_t *firstPlane = chroma, *secondPlane = chroma + p.chromaPlaneBytes;
    const std::uint32_t pairsPerRow = (f.width + 1) / 2;
    for (std::uint32_t y = 0; y < f.height; ++y) {
        const std::uint8_t *yRow = luma + std::uint64_t(y) * f.bytesPerLine;
        const std::uint32_t c = p.halfHeight ? y / 2 : y;
        std::uint8_t *o = out.data() + (firstRow + std::uint64_t(y) * rowStep) * outStride;
        if (p.pairs) {
            const std::uint8_t *cRow = chroma + std::uint64_t(c) * p.chromaStride;
            const int cbAt = p.crFirst ? 1 : 0, crAt = p.crFirst ? 0 : 1;
            for (std::uint32_t i = 0; i < pairsPerRow; ++i) {
                const std::uint32_t x = 2 * i;
                o[4 * i] = yRow[x];
                o[4 * i + 1] = cRow[2 * i + cbAt];
                o[4 * i + 2] = x + 1 < f.width ? yRow[x + 1] : yRow[x];
                o[4 * i + 3] = cRow[2 * i + crAt];
            }
        } else {
            const std::uint8_t *first = firstPlane + std::uint64_t(c) * p.chromaStride;
            const std::uint8_t *second = secondPlane + std::uint64_t(c) * p.chromaStride;
            const std::uint8_t *cb = p.crFirst ? second : first, *cr = p.crFirst ? first : second;
            for (std::uint32_t i = 0; i < pairsPerRow; ++i) {
                const std::uint32_t x = 2 * i;
                o[4 * i] = yRow[x];
                o[4 * i + 1] = cb[i];
                o[4 * i + 2] = x + 1 < f.width ? yRow[x + 1] : yRow[x];
                o[4 * i + 3] = cr[i];
            }
        }
        for (std::uint64_t b = 4 * std::uint64_t(pairsPerRow); b < outStride; ++b) o[b] = 0;
    }
    return true;
}

}  // namespace plat::frameconv
