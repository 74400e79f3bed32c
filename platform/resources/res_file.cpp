// The .res container: a run of entries, each a header (sizes, type, name,
// language) followed by its data, every entry starting on a 4-byte boundary.
#include "resources/res_file.h"

#include <algorithm>
#include <cctype>

namespace plat::res {

namespace {

constexpr std::size_t align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

std::string upper(std::string_view text) {
    std::string out(text);
    for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

// ---- Cursor -------------------------------------------------------------------

bool Cursor::need(std::size_t count) {
    if (failed_ || count > data_.size() - pos_) {
        failed_ = true;
        return false;
    }
    return true;
}

std::uint8_t Cursor::u8() {
    if (!need(1)) return 0;
    return data_[pos_++];
}

std::uint16_t Cursor::u16() {
    if (!need(2)) return 0;
    std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::uint32_t Cursor::u32() {
    std::uint32_t lo = u16();
    std::uint32_t hi = u16();
    return lo | (hi << 16);
}

std::string Cursor::wstr() {
    std::string out;
    for (;;) {
        std::uint16_t c = u16();
        if (failed_ || c == 0) break;
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    }
    return out;
}

ResourceKey Cursor::wstrOrOrdinal() {
    ResourceKey key;
    if (failed_ || !need(2)) return key;
    std::uint16_t first = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    if (first == 0xFFFF) {
        pos_ += 2;
        key.ordinal = u16();
        return key;
    }
    key.isOrdinal = false;
    key.name = wstr();
    return key;
}

std::span<const std::uint8_t> Cursor::bytes(std::size_t count) {
    if (!need(count)) return {};
    auto out = data_.subspan(pos_, count);
    pos_ += count;
    return out;
}

void Cursor::alignTo(std::size_t alignment) {
    // Padding after the last field of a template may be left out; a read
    // that needs bytes beyond the end still fails.
    if (failed_) return;
    pos_ = std::min((pos_ + alignment - 1) / alignment * alignment, data_.size());
}

// ---- Keys ---------------------------------------------------------------------

ResourceKey ResourceKey::from(LPCSTR name) {
    ResourceKey key;
    if (IS_INTRESOURCE(name)) {
        key.ordinal = static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name));
        return key;
    }
    std::string_view text(name);
    // "#123" names resource 123.
    if (text.size() > 1 && text[0] == '#' &&
        std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; }) && text.size() <= 6) {
        unsigned value = 0;
        for (char c : text.substr(1)) value = value * 10 + static_cast<unsigned>(c - '0');
        if (value <= 0xFFFF) {
            key.ordinal = value;
            return key;
        }
    }
    key.isOrdinal = false;
    key.name = upper(text);
    return key;
}

// ---- The file -----------------------------------------------------------------

std::optional<ResourceFile> ResourceFile::parse(std::span<const std::uint8_t> bytes) {
    // A 32-bit resource file opens with an empty entry of ordinal type 0,
    // which tells it apart from the older 16-bit format.
    static constexpr std::uint8_t kOpening[16] = {0, 0, 0, 0, 0x20, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    if (bytes.size() < 32 || !std::equal(std::begin(kOpening), std::end(kOpening), bytes.begin())) return std::nullopt;

    ResourceFile file;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < 8) return std::nullopt;
        Cursor c(bytes, pos);
        std::uint32_t dataSize = c.u32();
        std::uint32_t headerSize = c.u32();
        std::size_t available = bytes.size() - pos;
        if (headerSize < 32 || headerSize > available || dataSize > available - headerSize) return std::nullopt;

        // The header's fields must lie within the header's own size.
        Cursor h(bytes.subspan(pos, headerSize), 8);
        ResourceEntry entry;
        entry.type = h.wstrOrOrdinal();
        entry.name = h.wstrOrOrdinal();
        h.alignTo(4);
        h.u32();  // data version
        h.u16();  // memory flags
        entry.language = h.u16();
        h.u32();  // version
        h.u32();  // characteristics
        if (!h.ok()) return std::nullopt;
        if (!entry.type.isOrdinal) entry.type.name = upper(entry.type.name);
        if (!entry.name.isOrdinal) entry.name.name = upper(entry.name.name);

        entry.data = bytes.subspan(pos + headerSize, dataSize);
        if (!(entry.type.isOrdinal && entry.type.ordinal == 0)) file.entries_.push_back(std::move(entry));
        pos = std::min(align4(pos + headerSize + dataSize), bytes.size());
    }
    return file;
}

std::optional<std::span<const std::uint8_t>> ResourceFile::find(unsigned type, const ResourceKey &name) const {
    for (const ResourceEntry &e : entries_)
        if (e.type.isOrdinal && e.type.ordinal == type && e.name == name) return e.data;
    return std::nullopt;
}

}  // namespace plat::res
