// Little builders of resource bytes for the reader's tests: templates written
// field by field, and whole .res files around them.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace restest {

struct Bytes {
    std::vector<std::uint8_t> v;

    Bytes &u8(unsigned x) {
        v.push_back(static_cast<std::uint8_t>(x));
        return *this;
    }
    Bytes &u16(unsigned x) { return u8(x & 0xFF).u8((x >> 8) & 0xFF); }
    Bytes &u32(std::uint32_t x) { return u16(x & 0xFFFF).u16(x >> 16); }
    Bytes &wstr(std::string_view s) {
        for (char c : s) u16(static_cast<unsigned char>(c));
        return u16(0);
    }
    Bytes &ordinal(unsigned x) { return u16(0xFFFF).u16(x); }
    Bytes &align4() {
        while (v.size() % 4) v.push_back(0);
        return *this;
    }
    Bytes &append(const std::vector<std::uint8_t> &more) {
        v.insert(v.end(), more.begin(), more.end());
        return *this;
    }
};

struct ResEntry {
    unsigned type;
    unsigned name;
    std::vector<std::uint8_t> data;
};

// A 32-bit .res file: the empty opening entry, then each entry with a
// 32-byte header (ordinal type and name), data padded to four bytes.
inline std::vector<std::uint8_t> makeResFile(const std::vector<ResEntry> &entries) {
    Bytes b;
    b.u32(0).u32(32).ordinal(0).ordinal(0).u32(0).u16(0).u16(0).u32(0).u32(0);
    for (const ResEntry &e : entries) {
        b.u32(static_cast<std::uint32_t>(e.data.size())).u32(32).ordinal(e.type).ordinal(e.name);
        b.u32(0).u16(0x1030).u16(0x0409).u32(0).u32(0);
        b.append(e.data).align4();
    }
    return b.v;
}

}  // namespace restest
