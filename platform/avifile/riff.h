// The bytes of RIFF and AVI files: four-character codes and little-endian
// fields, shared by the AVI writer and reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace plat::avi {

constexpr std::uint32_t fourcc(char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 | std::uint32_t(std::uint8_t(c)) << 16 |
           std::uint32_t(std::uint8_t(d)) << 24;
}

constexpr std::uint32_t kRiff = fourcc('R', 'I', 'F', 'F');
constexpr std::uint32_t kList = fourcc('L', 'I', 'S', 'T');
constexpr std::uint32_t kAvi = fourcc('A', 'V', 'I', ' ');
constexpr std::uint32_t kAvix = fourcc('A', 'V', 'I', 'X');
constexpr std::uint32_t kHdrl = fourcc('h', 'd', 'r', 'l');
constexpr std::uint32_t kAvih = fourcc('a', 'v', 'i', 'h');
constexpr std::uint32_t kStrl = fourcc('s', 't', 'r', 'l');
constexpr std::uint32_t kStrh = fourcc('s', 't', 'r', 'h');
constexpr std::uint32_t kStrf = fourcc('s', 't', 'r', 'f');
constexpr std::uint32_t kIndx = fourcc('i', 'n', 'd', 'x');
constexpr std::uint32_t kOdml = fourcc('o', 'd', 'm', 'l');
constexpr std::uint32_t kDmlh = fourcc('d', 'm', 'l', 'h');
constexpr std::uint32_t kJunk = fourcc('J', 'U', 'N', 'K');
constexpr std::uint32_t kMovi = fourcc('m', 'o', 'v', 'i');
constexpr std::uint32_t kRec = fourcc('r', 'e', 'c', ' ');
constexpr std::uint32_t kIdx1 = fourcc('i', 'd', 'x', '1');
constexpr std::uint32_t kIx00 = fourcc('i', 'x', '0', '0');
constexpr std::uint32_t kVids = fourcc('v', 'i', 'd', 's');
constexpr std::uint32_t kFrame00 = fourcc('0', '0', 'd', 'b');

// Uncompressed (BI_RGB) and the packed YUV and grey formats the decoder knows.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kYuy2 = fourcc('Y', 'U', 'Y', '2');
constexpr std::uint32_t kYuyv = fourcc('Y', 'U', 'Y', 'V');
constexpr std::uint32_t kUyvy = fourcc('U', 'Y', 'V', 'Y');
constexpr std::uint32_t kY800 = fourcc('Y', '8', '0', '0');
constexpr std::uint32_t kY8 = fourcc('Y', '8', ' ', ' ');
constexpr std::uint32_t kGrey = fourcc('G', 'R', 'E', 'Y');

// Flags of avih: the file has an index, is interleaved and its chunk ids
// can be trusted. Never "must use index": a reader would then see only the
// indexed frames of a file cut off by a crash.
constexpr std::uint32_t kAvihFlags = 0x10 | 0x100 | 0x800;
constexpr std::uint32_t kIdx1KeyFrame = 0x10;
// In a standard index entry, bit 31 of the size marks a frame that is not a key frame.
constexpr std::uint32_t kIxNotKeyFrame = 0x80000000u;

inline std::uint16_t get16(const std::uint8_t *p) { return std::uint16_t(p[0] | p[1] << 8); }
inline std::uint32_t get32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline void put16(std::uint8_t *p, std::uint16_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}
inline void put32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline void put64(std::uint8_t *p, std::uint64_t v) {
    put32(p, std::uint32_t(v));
    put32(p + 4, std::uint32_t(v >> 32));
}

// A chunk's data is padded to an even length; its size field leaves the pad out.
constexpr std::uint64_t padded(std::uint64_t size) { return size + (size & 1); }

}  // namespace plat::avi
