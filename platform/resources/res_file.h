// The binary resource file (.res) as the resource compiler writes it, read as
// untrusted data: every read is bounds-checked and malformed input is refused
// as a whole rather than half-used.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resources.h"

namespace plat::res {

// A type or name of a resource: an ordinal or an (upper-cased) name.
struct ResourceKey {
    bool isOrdinal = true;
    unsigned ordinal = 0;
    std::string name;

    // From a Win32-style name argument: MAKEINTRESOURCE, "#123" or a name.
    static ResourceKey from(LPCSTR name);
    bool operator==(const ResourceKey &) const = default;
};

struct ResourceEntry {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    std::span<const std::uint8_t> data;
};

class ResourceFile {
public:
    // Null when the data is not a well-formed resource file. The entries view
    // `bytes`, which must outlive the ResourceFile.
    static std::optional<ResourceFile> parse(std::span<const std::uint8_t> bytes);

    // The first resource of that type and name, in any language.
    std::optional<std::span<const std::uint8_t>> find(unsigned type, const ResourceKey &name) const;
    const std::vector<ResourceEntry> &entries() const { return entries_; }

private:
    std::vector<ResourceEntry> entries_;
};

// Little-endian reads that never leave their span. Past the end a read
// yields 0 and marks the cursor failed, so a parser checks once at the end.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> data, std::size_t pos = 0) : data_(data), pos_(pos) {}

    std::uint8_t u8();
    std::uint16_t u16();
    std::uint32_t u32();
    std::int16_t s16() { return static_cast<std::int16_t>(u16()); }
    // A zero-terminated UTF-16 string, as 8-bit text (characters above 0xFF
    // become '?').
    std::string wstr();
    // A "string or ordinal" field: 0xFFFF followed by an ordinal, or a string.
    ResourceKey wstrOrOrdinal();
    std::span<const std::uint8_t> bytes(std::size_t count);
    // Moves to the next multiple of `alignment` (at most to the end).
    void alignTo(std::size_t alignment);
    void skip(std::size_t count) { bytes(count); }

    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return failed_ ? 0 : data_.size() - pos_; }
    bool ok() const { return !failed_; }
    void fail() { failed_ = true; }

private:
    bool need(std::size_t count);
    std::span<const std::uint8_t> data_;
    std::size_t pos_;
    bool failed_ = false;
};

// Readers of the standard templates; each refuses (nullopt) malformed data.
std::optional<std::vector<MenuItem>> parseMenu(std::span<const std::uint8_t> data);
std::optional<std::vector<ACCEL>> parseAccelerators(std::span<const std::uint8_t> data);
std::optional<DialogTemplate> parseDialog(std::span<const std::uint8_t> data);
// A packed DIB as bitmap resources and icon images hold it: the header and
// colour table are sound and the pixel rows fit.
bool isSoundPackedDib(std::span<const std::uint8_t> dib);
std::optional<std::vector<IconImage>> parseIconGroup(const ResourceFile &file, std::span<const std::uint8_t> group);

// Further modules with resources (tests load their own resource files);
// registered in the current session, valid until it ends.
HINSTANCE registerModule(std::span<const std::uint8_t> resData);

}  // namespace plat::res
