// Resource data is untrusted: truncated, inflated or inconsistent bytes are
// refused as a whole, never read past their end (the sanitizer build turns
// any stray read into a failure) and never half-used.
#include <gtest/gtest.h>

#include <cstring>

#include "res_bytes.h"
#include "resource.h"
#include "module_resources.h"
#include "resources/res_file.h"

namespace {

using namespace plat::res;
using restest::Bytes;
using restest::makeResFile;

std::span<const std::uint8_t> programBytes() { return programResourceFile(); }

TEST(MalformedResFile, EveryTruncationIsRefusedOrEndsOnAWholeEntry) {
    auto full = ResourceFile::parse(programBytes());
    ASSERT_TRUE(full);
    ASSERT_GE(full->entries().size(), 7u);  // 3 icons, 2 groups, bitmap, menu, accelerators, 2 dialogs
    // Where each entry's data ends, and where its padding ends.
    std::vector<std::pair<std::size_t, std::size_t>> ends;
    for (const auto &e : full->entries()) {
        std::size_t end = static_cast<std::size_t>(e.data.data() - programBytes().data()) + e.data.size();
        ends.emplace_back(end, (end + 3) & ~std::size_t{3});
    }
    for (std::size_t n = 0; n < programBytes().size(); ++n) {
        // A copy of exactly n bytes, so any read past it is out of bounds.
        std::vector<std::uint8_t> prefix(programBytes().begin(), programBytes().begin() + n);
        auto parsed = ResourceFile::parse(prefix);
        if (!parsed) continue;
        // Only a cut between entries (or inside the padding after one) is accepted,
        // and then with exactly the entries before the cut.
        std::size_t count = parsed->entries().size();
        if (count == 0) {
            ASSERT_EQ(n, 32u) << "only the opening entry is a file without resources";
            continue;
        }
        ASSERT_GE(n, ends[count - 1].first) << n;
        ASSERT_LE(n, ends[count - 1].second) << n;
        for (std::size_t i = 0; i < count; ++i) {
            auto a = parsed->entries()[i].data, b = full->entries()[i].data;
            ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin(), b.end())) << "prefix " << n << " entry " << i;
        }
    }
}

TEST(MalformedResFile, BrokenHeadersAreRefused) {
    const std::vector<std::uint8_t> good = makeResFile({{RT_MENU, 1, {0, 0, 0, 0, 0x80, 0, 'A', 0, 0, 0}}});
    ASSERT_TRUE(ResourceFile::parse(good));
    ASSERT_EQ(ResourceFile::parse(good)->entries().size(), 1u);

    auto patched = [&](std::size_t at, std::uint32_t value) {
        std::vector<std::uint8_t> bytes = good;
        std::memcpy(bytes.data() + at, &value, 4);
        return bytes;
    };
    struct Case {
        const char *what;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<std::uint8_t> trailing = good;
    trailing.insert(trailing.end(), {1, 2, 3});
    const Case cases[] = {
        {"empty", {}},
        {"not the 32-bit opening entry", patched(0, 5)},
        {"data larger than the file", patched(32, 0x7FFFFFFF)},
        {"data size at the wrap-around", patched(32, 0xFFFFFFF0)},
        {"header smaller than its fields", patched(36, 16)},
        {"header larger than the file", patched(36, 0x1000)},
        {"stray bytes after the last entry", trailing},
    };
    for (const Case &c : cases) EXPECT_FALSE(ResourceFile::parse(c.bytes)) << c.what;

    // A named type whose name runs past the header's end.
    Bytes named;
    named.append(makeResFile({}));
    named.u32(0).u32(32);
    for (int i = 0; i < 12; ++i) named.u16('N');
    EXPECT_FALSE(ResourceFile::parse(named.v));
}

// Every template of the program cut short by any number of bytes is refused.
TEST(MalformedTemplates, EveryStrictPrefixIsRefused) {
    auto file = ResourceFile::parse(programBytes());
    ASSERT_TRUE(file);
    struct Case {
        unsigned type;
        unsigned id;
    };
    const Case cases[] = {{RT_MENU, IDC_MAINMENU}, {RT_ACCELERATOR, IDC_MAINMENU}, {RT_DIALOG, IDD_ABOUTBOX},
                          {RT_DIALOG, IDD_SETUP},  {RT_GROUP_ICON, IDI_APPICON},   {RT_GROUP_ICON, IDI_APPICON_SMALL},
                          {RT_BITMAP, IDB_TOOLBAR}};
    for (const Case &c : cases) {
        ResourceKey key;
        key.ordinal = c.id;
        auto data = file->find(c.type, key);
        ASSERT_TRUE(data) << c.type << "/" << c.id;
        auto parses = [&](std::span<const std::uint8_t> bytes) {
            switch (c.type) {
            case RT_MENU: return parseMenu(bytes).has_value();
            case RT_ACCELERATOR: return parseAccelerators(bytes).has_value();
            case RT_DIALOG: return parseDialog(bytes).has_value();
            case RT_GROUP_ICON: return parseIconGroup(*file, bytes).has_value();
            default: return isSoundPackedDib(bytes);
            }
        };
        ASSERT_TRUE(parses(*data)) << c.type << "/" << c.id;
        for (std::size_t n = 0; n < data->size(); ++n) {
            std::vector<std::uint8_t> prefix(data->begin(), data->begin() + n);
            EXPECT_FALSE(parses(prefix)) << "type " << c.type << " id " << c.id << " cut to " << n;
        }
    }
}

TEST(MalformedTemplates, MenusNestedWithoutEndAreRefused) {
    // Pop-ups nested far deeper than any menu: refused, not recursed into.
    Bytes deep;
    deep.u16(0).u16(0);
    for (int i = 0; i < 100000; ++i) deep.u16(MF_POPUP).wstr("");
    EXPECT_FALSE(parseMenu(deep.v));

    // A few levels are fine.
    Bytes shallow;
    shallow.u16(0).u16(0);
    shallow.u16(MF_POPUP | MF_END).wstr("a").u16(MF_POPUP | MF_END).wstr("b").u16(MF_END).u16(7).wstr("c");
    auto menu = parseMenu(shallow.v);
    ASSERT_TRUE(menu);
    EXPECT_EQ((*menu)[0].items[0].items[0].id, 7u);

    Bytes unknownVersion;
    unknownVersion.u16(2).u16(0).u16(MF_END).u16(1).wstr("x");
    EXPECT_FALSE(parseMenu(unknownVersion.v));
}

TEST(MalformedTemplates, DialogsThatClaimMoreThanTheyHold) {
    auto dialog = [](unsigned count, unsigned classOrdinal) {
        Bytes b;
        b.u32(WS_POPUP).u32(0).u16(count).u16(0).u16(0).u16(100).u16(50).u16(0).u16(0).wstr("T");
        b.align4().u32(WS_CHILD).u32(0).u16(1).u16(2).u16(3).u16(4).u16(10).ordinal(classOrdinal).wstr("x").u16(0);
        return b.v;
    };
    auto good = parseDialog(dialog(1, 0x80));
    ASSERT_TRUE(good);
    EXPECT_EQ(good->controls[0].className, "BUTTON");
    EXPECT_FALSE(parseDialog(dialog(60000, 0x80))) << "more controls than bytes";
    EXPECT_FALSE(parseDialog(dialog(1, 0x99))) << "no predefined class has that ordinal";

    // Creation data longer than what is left.
    Bytes extra;
    extra.append(dialog(1, 0x82));
    extra.v.resize(extra.v.size() - 2);
    extra.u16(500).u16(0);
    EXPECT_FALSE(parseDialog(extra.v));
}

std::vector<std::uint8_t> dibHeader(std::int32_t width, std::int32_t height, unsigned bits, std::uint32_t compression,
                                    std::uint32_t used, std::uint32_t size = 40) {
    Bytes b;
    b.u32(size).u32(static_cast<std::uint32_t>(width)).u32(static_cast<std::uint32_t>(height)).u16(1).u16(bits);
    b.u32(compression).u32(0).u32(0).u32(0).u32(used).u32(0);
    b.v.resize(std::max<std::size_t>(b.v.size(), size));
    return b.v;
}

TEST(MalformedTemplates, Bitmaps) {
    auto withPixels = [](std::vector<std::uint8_t> dib, std::size_t paletteAndRows) {
        dib.resize(dib.size() + paletteAndRows);
        return dib;
    };
    struct Case {
        const char *what;
        std::vector<std::uint8_t> dib;
        bool sound;
    };
    const Case cases[] = {
        {"4-bit 8x2", withPixels(dibHeader(8, 2, 4, BI_RGB, 0), 64 + 2 * 4), true},
        {"top-down rows", withPixels(dibHeader(8, -2, 4, BI_RGB, 0), 64 + 2 * 4), true},
        {"short palette of 2 colours", withPixels(dibHeader(8, 2, 4, BI_RGB, 2), 8 + 2 * 4), true},
        {"24-bit", withPixels(dibHeader(3, 3, 24, BI_RGB, 0), 3 * 12), true},
        {"one row short", withPixels(dibHeader(8, 2, 4, BI_RGB, 0), 64 + 4), false},
        {"zero width", withPixels(dibHeader(0, 2, 4, BI_RGB, 0), 64 + 8), false},
        {"negative width", withPixels(dibHeader(-8, 2, 4, BI_RGB, 0), 64 + 8), false},
        {"huge height", withPixels(dibHeader(8, 0x7FFFFFFF, 4, BI_RGB, 0), 64 + 8), false},
        {"3 bits per pixel", withPixels(dibHeader(8, 2, 3, BI_RGB, 0), 64 + 8), false},
        {"more colours than the depth has", withPixels(dibHeader(8, 2, 4, BI_RGB, 17), 17 * 4 + 8), false},
        {"run-length compressed", withPixels(dibHeader(8, 2, 4, BI_RLE4, 0), 64 + 8), false},
        {"old core header", withPixels(dibHeader(8, 2, 4, BI_RGB, 0, 12), 64 + 8), false},
        {"header size beyond the data", dibHeader(8, 2, 4, BI_RGB, 0, 120), false},
        {"shorter than a header", std::vector<std::uint8_t>(20, 0), false},
    };
    for (const Case &c : cases) EXPECT_EQ(isSoundPackedDib(c.dib), c.sound) << c.what;
}

TEST(MalformedTemplates, IconGroups) {
    // A 16x16 4-bit icon image: double-height header, palette, colour rows, mask rows.
    std::vector<std::uint8_t> image = dibHeader(16, 32, 4, BI_RGB, 0);
    image.resize(image.size() + 64 + 16 * 8 + 16 * 4);
    auto group = [](unsigned type, unsigned count, unsigned iconId) {
        Bytes b;
        b.u16(0).u16(type).u16(count);
        for (unsigned i = 0; i < std::min(count, 1u); ++i)
            b.u8(16).u8(16).u8(16).u8(0).u16(1).u16(4).u32(296).u16(iconId);
        return b.v;
    };
    const auto bytes = makeResFile({{RT_ICON, 5, image}});
    auto file = ResourceFile::parse(bytes);
    ASSERT_TRUE(file);
    auto ok = parseIconGroup(*file, group(1, 1, 5));
    ASSERT_TRUE(ok);
    EXPECT_EQ((*ok)[0].width, 16);
    EXPECT_EQ((*ok)[0].height, 16);
    EXPECT_FALSE(parseIconGroup(*file, group(1, 1, 6))) << "image missing";
    EXPECT_FALSE(parseIconGroup(*file, group(2, 1, 5))) << "a cursor group";
    EXPECT_FALSE(parseIconGroup(*file, group(1, 0, 5))) << "no images";
    EXPECT_FALSE(parseIconGroup(*file, group(1, 3000, 5))) << "more entries than bytes";
    EXPECT_TRUE(parseIconGroup(*file, group(1, 1, 5))) << "the same entry, counted once";

    // An image without its mask rows.
    std::vector<std::uint8_t> noMask(image.begin(), image.end() - 16 * 4);
    const auto masklessBytes = makeResFile({{RT_ICON, 5, noMask}});
    auto maskless = ResourceFile::parse(masklessBytes);
    ASSERT_TRUE(maskless);
    EXPECT_FALSE(parseIconGroup(*maskless, group(1, 1, 5)));
}

TEST(MalformedTemplates, AcceleratorTableWithoutItsLastMark) {
    Bytes b;
    b.u16(FVIRTKEY).u16(0x70).u16(1).u16(0).u16(0).u16('a').u16(2).u16(0);
    EXPECT_FALSE(parseAccelerators(b.v));
    b.v[8] |= 0x80;
    auto table = parseAccelerators(b.v);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->size(), 2u);
}

}  // namespace
