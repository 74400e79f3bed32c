#include "png.h"

#include <algorithm>
#include <array>

#include "image.h"

namespace noctil::stack {

namespace {

constexpr std::size_t kStoredBlock = 65535;  // the most a stored deflate block holds

// The CRC-32 of PNG chunks (and zip), polynomial 0xEDB88320.
std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t adler32(std::span<const std::uint8_t> bytes) {
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t x : bytes) {
        a = (a + x) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void putBig32(std::vector<std::uint8_t> &out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

// A chunk: length, type, data, and the CRC of type and data.
void putChunk(std::vector<std::uint8_t> &out, const char type[4], std::span<const std::uint8_t> data) {
    putBig32(out, std::uint32_t(data.size()));
    const std::size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBig32(out, crc32(std::span(out).subspan(typeAt)));
}

// The zlib stream of `raw` in stored blocks.
std::vector<std::uint8_t> storedZlib(std::span<const std::uint8_t> raw) {
    std::vector<std::uint8_t> z = {0x78, 0x01};  // deflate, 32 KiB window, no dictionary
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(kStoredBlock, raw.size() - at);
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(std::uint8_t(n));
        z.push_back(std::uint8_t(n >> 8));
        z.push_back(std::uint8_t(~n));
        z.push_back(std::uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + n));
        at += n;
    } while (at < raw.size());
    putBig32(z, adler32(raw));
    return z;
}

}  // namespace

std::vector<std::uint8_t> pngBytes(std::uint32_t width, std::uint32_t height, std::span<const std::uint8_t> rows) {
    const std::size_t stride = dibRowBytes(width);
    if (width == 0 || height == 0 || rows.size() < stride * height) return {};
    // PNG rows run from the top, R, G, B, each after its filter byte (0: none).
    std::vector<std::uint8_t> raw;
    raw.reserve((std::size_t(width) * 3 + 1) * height);
    for (std::uint32_t y = height; y-- > 0;) {
        raw.push_back(0);
        const std::uint8_t *pixel = rows.data() + std::size_t(y) * stride;
        for (std::uint32_t x = 0; x < width; ++x, pixel += 3) raw.insert(raw.end(), {pixel[2], pixel[1], pixel[0]});
    }
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    putBig32(header, width);
    putBig32(header, height);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter method, not interlaced
    putChunk(out, "IHDR", header);
    putChunk(out, "IDAT", storedZlib(raw));
    putChunk(out, "IEND", {});
    return out;
}

}  // namespace noctil::stack
