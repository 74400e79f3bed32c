// Readers of the standard resource templates: menus (plain and extended),
// accelerator tables, dialogs (plain and extended), icon groups and packed
// bitmaps. Each takes the resource's bytes as untrusted and refuses the whole
// template when any part of it is out of bounds or inconsistent.
#include <algorithm>
#include <cctype>

#include "resources/res_file.h"

namespace plat::res {

namespace {

// Pop-ups nest; a hostile template must not nest deeper than any menu would.
constexpr int kMaxMenuDepth = 16;

// Extended menu item fields.
constexpr std::uint32_t kMftSeparator = 0x800;
constexpr std::uint32_t kMfsGrayed = 0x3;
constexpr std::uint32_t kMfsChecked = 0x8;
constexpr std::uint16_t kExPopup = 0x01;
constexpr std::uint16_t kExLast = 0x80;
// Accelerator entries mark the last one with this bit.
constexpr std::uint16_t kAccelLast = 0x80;

bool readMenuItems(Cursor &c, int depth, std::vector<MenuItem> &out) {
    if (depth > kMaxMenuDepth) return false;
    for (;;) {
        std::uint16_t flags = c.u16();
        MenuItem item;
        if (flags & MF_POPUP) {
            item.text = c.wstr();
            if (!c.ok() || !readMenuItems(c, depth + 1, item.items)) return false;
        } else {
            item.id = c.u16();
            item.text = c.wstr();
        }
        if (!c.ok()) return false;
        item.flags = flags & ~MF_END;
        // The compiler writes a separator as an item with no id, text or flags.
        if (!(flags & MF_POPUP) && item.id == 0 && item.text.empty() && item.flags == 0) item.flags = MF_SEPARATOR;
        out.push_back(std::move(item));
        if (flags & MF_END) return true;
    }
}

bool readMenuExItems(Cursor &c, int depth, std::vector<MenuItem> &out) {
    if (depth > kMaxMenuDepth) return false;
    for (;;) {
        c.alignTo(4);
        std::uint32_t type = c.u32();
        std::uint32_t state = c.u32();
        std::uint32_t id = c.u32();
        std::uint16_t info = c.u16();
        MenuItem item;
        item.text = c.wstr();
        c.alignTo(4);
        if (!c.ok()) return false;
        if (type & kMftSeparator) item.flags |= MF_SEPARATOR;
        if ((state & kMfsGrayed) != 0) item.flags |= MF_GRAYED;
        if (state & kMfsChecked) item.flags |= MF_CHECKED;
        if (info & kExPopup) {
            item.flags |= MF_POPUP;
            c.u32();  // help id
            if (!c.ok() || !readMenuExItems(c, depth + 1, item.items)) return false;
        } else {
            item.id = id;
        }
        out.push_back(std::move(item));
        if (info & kExLast) return true;
    }
}

std::string predefinedClass(unsigned ordinal) {
    switch (ordinal) {
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    case 0x83: return "LISTBOX";
    case 0x84: return "SCROLLBAR";
    case 0x85: return "COMBOBOX";
    default: return {};
    }
}

// A class named by text keeps its text, except that the predefined classes
// are named one way whichever way the script spelled them.
std::optional<std::string> controlClass(const ResourceKey &key) {
    if (key.isOrdinal) {
        std::string name = predefinedClass(key.ordinal);
        if (name.empty()) return std::nullopt;
        return name;
    }
    std::string up = key.name;
    for (char &ch : up) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    for (unsigned ordinal = 0x80; ordinal <= 0x85; ++ordinal)
        if (up == predefinedClass(ordinal)) return up;
    return key.name;
}

bool readControlText(Cursor &c, DialogControl &ctl) {
    ResourceKey text = c.wstrOrOrdinal();
    if (text.isOrdinal)
        ctl.textOrdinal = static_cast<int>(text.ordinal);
    else
        ctl.text = text.name;
    return c.ok();
}

std::optional<DialogTemplate> readDialog(Cursor &c, bool extended) {
    DialogTemplate dlg;
    if (extended) {
        c.u32();  // help id
        dlg.exStyle = c.u32();
        dlg.style = c.u32();
    } else {
        dlg.style = c.u32();
        dlg.exStyle = c.u32();
    }
    unsigned count = c.u16();
    dlg.x = c.s16();
    dlg.y = c.s16();
    dlg.cx = c.s16();
    dlg.cy = c.s16();
    c.wstrOrOrdinal();  // menu
    c.wstrOrOrdinal();  // window class
    dlg.title = c.wstr();
    if (dlg.style & DS_SETFONT) {
        dlg.pointSize = c.u16();
        if (extended) {
            c.u16();  // weight
            c.u8();   // italic
            c.u8();   // character set
        }
        dlg.fontName = c.wstr();
    }
    if (!c.ok()) return std::nullopt;

    for (unsigned i = 0; i < count; ++i) {
        c.alignTo(4);
        DialogControl ctl;
        if (extended) {
            c.u32();  // help id
            ctl.exStyle = c.u32();
            ctl.style = c.u32();
        } else {
            ctl.style = c.u32();
            ctl.exStyle = c.u32();
        }
        ctl.x = c.s16();
        ctl.y = c.s16();
        ctl.cx = c.s16();
        ctl.cy = c.s16();
        std::uint32_t id = extended ? c.u32() : c.u16();
        ctl.id = (id == 0xFFFF || id == 0xFFFFFFFFu) ? -1 : static_cast<int>(id);
        auto cls = controlClass(c.wstrOrOrdinal());
        if (!c.ok() || !cls) return std::nullopt;
        ctl.className = *cls;
        if (!readControlText(c, ctl)) return std::nullopt;
        std::uint16_t extra = c.u16();
        c.skip(extra);
        if (!c.ok()) return std::nullopt;
        dlg.controls.push_back(std::move(ctl));
    }
    return dlg;
}

struct DibLayout {
    std::int64_t width = 0, height = 0;  // height as stored (negative: top-down)
    unsigned bitCount = 0;
    std::size_t headerAndColours = 0;
};

std::int64_t stride(std::int64_t width, unsigned bitCount) { return ((width * bitCount + 31) / 32) * 4; }

std::optional<DibLayout> dibLayout(std::span<const std::uint8_t> dib) {
    Cursor c(dib);
    std::uint32_t size = c.u32();
    std::int32_t width = static_cast<std::int32_t>(c.u32());
    std::int32_t height = static_cast<std::int32_t>(c.u32());
    std::uint16_t planes = c.u16();
    std::uint16_t bitCount = c.u16();
    std::uint32_t compression = c.u32();
    c.u32();  // image size
    c.u32();  // pixels per metre, x
    c.u32();  // pixels per metre, y
    std::uint32_t used = c.u32();
    if (!c.ok() || size < 40 || size > 124 || size > dib.size()) return std::nullopt;
    // Sizes far beyond any resource image are refused before any arithmetic.
    if (width <= 0 || width > 32767 || height == 0 || height < -32767 || height > 32767 || planes != 1)
        return std::nullopt;
    static constexpr unsigned kDepths[] = {1, 4, 8, 16, 24, 32};
    if (std::find(std::begin(kDepths), std::end(kDepths), bitCount) == std::end(kDepths)) return std::nullopt;

    std::size_t colours = 0;
    if (bitCount <= 8) {
        if (used > (1u << bitCount)) return std::nullopt;
        colours = used ? used : (1u << bitCount);
    } else if (used > 256) {
        return std::nullopt;
    } else {
        colours = used;
    }
    std::size_t masks = 0;
    if (compression == BI_BITFIELDS) {
        if (bitCount != 16 && bitCount != 32) return std::nullopt;
        if (size == 40) masks = 12;
    } else if (compression != BI_RGB) {
        return std::nullopt;
    }
    DibLayout layout{width, height, bitCount, size + masks + colours * 4};
    if (layout.headerAndColours > dib.size()) return std::nullopt;
    return layout;
}

}  // namespace

std::optional<std::vector<MenuItem>> parseMenu(std::span<const std::uint8_t> data) {
    Cursor c(data);
    std::uint16_t version = c.u16();
    std::uint16_t offset = c.u16();
    if (!c.ok()) return std::nullopt;
    std::vector<MenuItem> items;
    if (version == 0) {
        c.skip(offset);
        if (!readMenuItems(c, 0, items)) return std::nullopt;
    } else if (version == 1) {
        c.skip(offset);
        if (!readMenuExItems(c, 0, items)) return std::nullopt;
    } else {
        return std::nullopt;
    }
    return items;
}

std::optional<std::vector<ACCEL>> parseAccelerators(std::span<const std::uint8_t> data) {
    Cursor c(data);
    std::vector<ACCEL> table;
    for (;;) {
        std::uint16_t flags = c.u16();
        std::uint16_t key = c.u16();
        std::uint16_t cmd = c.u16();
        c.u16();  // padding
        if (!c.ok()) return std::nullopt;
        ACCEL a{};
        a.fVirt = static_cast<BYTE>(flags & 0x7F);
        a.key = key;
        a.cmd = cmd;
        table.push_back(a);
        if (flags & kAccelLast) return table;
    }
}

std::optional<DialogTemplate> parseDialog(std::span<const std::uint8_t> data) {
    Cursor c(data);
    std::uint16_t first = c.u16();
    std::uint16_t second = c.u16();
    if (!c.ok()) return std::nullopt;
    bool extended = first == 1 && second == 0xFFFF;
    Cursor body(data, extended ? 4 : 0);
    return readDialog(body, extended);
}

bool isSoundPackedDib(std::span<const std::uint8_t> dib) {
    auto layout = dibLayout(dib);
    if (!layout) return false;
    std::int64_t rows = layout->height < 0 ? -layout->height : layout->height;
    std::int64_t need =
        static_cast<std::int64_t>(layout->headerAndColours) + stride(layout->width, layout->bitCount) * rows;
    return need <= static_cast<std::int64_t>(dib.size());
}

std::optional<std::vector<IconImage>> parseIconGroup(const ResourceFile &file, std::span<const std::uint8_t> group) {
    Cursor c(group);
    std::uint16_t reserved = c.u16();
    std::uint16_t type = c.u16();
    std::uint16_t count = c.u16();
    if (!c.ok() || reserved != 0 || type != 1 || count == 0) return std::nullopt;

    std::vector<IconImage> images;
    for (unsigned i = 0; i < count; ++i) {
        c.skip(12);  // width, height, colours, reserved, planes, bits, byte count: the image header is authoritative
        std::uint16_t id = c.u16();
        if (!c.ok()) return std::nullopt;
        ResourceKey key;
        key.ordinal = id;
        auto dib = file.find(RT_ICON, key);
        if (!dib) return std::nullopt;
        auto layout = dibLayout(*dib);
        // An icon's header covers the colour rows and the mask rows below them.
        if (!layout || layout->height <= 0 || layout->height % 2 != 0) return std::nullopt;
        std::int64_t h = layout->height / 2;
        std::int64_t need = static_cast<std::int64_t>(layout->headerAndColours) +
                            (stride(layout->width, layout->bitCount) + stride(layout->width, 1)) * h;
        if (need > static_cast<std::int64_t>(dib->size())) return std::nullopt;
        IconImage image;
        image.width = static_cast<int>(layout->width);
        image.height = static_cast<int>(h);
        image.bitCount = static_cast<int>(layout->bitCount);
        image.dib.assign(dib->begin(), dib->end());
        images.push_back(std::move(image));
    }
    return images;
}

}  // namespace plat::res
