// Resource forms beyond the program's own script, compiled by the same
// resource compiler: extended menus and dialogs, item flags, names instead
// of ordinals, custom control classes, virtual-key accelerators.
#include <gtest/gtest.h>

#include "resources/res_file.h"

extern "C" const unsigned char test_variants_data[];
extern "C" const unsigned long test_variants_size;

namespace {

using namespace plat::res;

class TemplateForms : public ::testing::Test {
protected:
    void SetUp() override {
        auto parsed = ResourceFile::parse({test_variants_data, test_variants_size});
        ASSERT_TRUE(parsed);
        file = *parsed;
    }
    std::span<const std::uint8_t> get(unsigned type, LPCSTR name) {
        auto data = file.find(type, ResourceKey::from(name));
        EXPECT_TRUE(data) << "resource missing";
        return data.value_or(std::span<const std::uint8_t>{});
    }
    ResourceFile file;
};

TEST_F(TemplateForms, ExtendedMenu) {
    auto menu = parseMenu(get(RT_MENU, MAKEINTRESOURCEA(1)));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->size(), 2u);
    const MenuItem &top = (*menu)[0];
    EXPECT_EQ(top.text, "&Top");
    EXPECT_EQ(top.flags, unsigned{MF_POPUP});
    EXPECT_EQ(top.id, 0u);
    struct Expected {
        const char *text;
        unsigned id, flags;
        std::size_t children;
    };
    const Expected items[] = {
        {"&Gray", 201, MF_GRAYED, 0},
        {"", 0, MF_SEPARATOR, 0},
        {"&Checked", 202, MF_CHECKED, 0},
        {"&Nested", 0, MF_POPUP, 1},
    };
    ASSERT_EQ(top.items.size(), std::size(items));
    for (std::size_t i = 0; i < std::size(items); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(top.items[i].text, items[i].text);
        EXPECT_EQ(top.items[i].id, items[i].id);
        EXPECT_EQ(top.items[i].flags, items[i].flags);
        EXPECT_EQ(top.items[i].items.size(), items[i].children);
    }
    EXPECT_EQ(top.items[3].items[0].text, "Deep");
    EXPECT_EQ(top.items[3].items[0].id, 203u);
    EXPECT_EQ((*menu)[1].text, "&Last");
    EXPECT_EQ((*menu)[1].id, 204u);
}

TEST_F(TemplateForms, PlainMenuItemFlagsByName) {
    // Names compare without regard to case.
    auto menu = parseMenu(get(RT_MENU, "flagged"));
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->size(), 3u);
    EXPECT_EQ((*menu)[0].flags, unsigned{MF_GRAYED});
    EXPECT_EQ((*menu)[1].flags, unsigned{MF_CHECKED});
    EXPECT_EQ((*menu)[2].flags, unsigned{MF_DISABLED});
    EXPECT_EQ((*menu)[2].id, 12u);
}

TEST_F(TemplateForms, VirtualKeyAndCharacterAccelerators) {
    auto table = parseAccelerators(get(RT_ACCELERATOR, "Keys"));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 3u);
    struct Expected {
        BYTE fVirt;
        WORD key, cmd;
    };
    const Expected expected[] = {{FVIRTKEY, 0x70, 300}, {FVIRTKEY | FCONTROL | FSHIFT, 'S', 301}, {0, 'a', 302}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ((*table)[i].fVirt, expected[i].fVirt) << i;
        EXPECT_EQ((*table)[i].key, expected[i].key) << i;
        EXPECT_EQ((*table)[i].cmd, expected[i].cmd) << i;
    }
}

TEST_F(TemplateForms, ExtendedDialog) {
    auto dlg = parseDialog(get(RT_DIALOG, MAKEINTRESOURCEA(7)));
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dlg->title, "Extended");
    EXPECT_EQ(dlg->style, static_cast<std::uint32_t>(DS_SETFONT | WS_POPUP | WS_CAPTION));
    EXPECT_EQ(dlg->exStyle, 1u);
    EXPECT_EQ(dlg->fontName, "Tahoma");
    EXPECT_EQ(dlg->pointSize, 9);
    EXPECT_EQ((std::array{dlg->x, dlg->y, dlg->cx, dlg->cy}), (std::array{10, 20, 150, 60}));
    ASSERT_EQ(dlg->controls.size(), 3u);
    const DialogControl &icon = dlg->controls[0];
    EXPECT_EQ(icon.className, "STATIC");
    EXPECT_EQ(icon.textOrdinal, 108);
    EXPECT_TRUE(icon.text.empty());
    EXPECT_EQ((std::array{icon.x, icon.y, icon.cx, icon.cy}), (std::array{1, 2, 3, 4}));
    const DialogControl &custom = dlg->controls[1];
    EXPECT_EQ(custom.className, "MYCLASS");
    EXPECT_EQ(custom.text, "Custom");
    EXPECT_EQ(custom.textOrdinal, -1);
    EXPECT_EQ(custom.id, 41);
    EXPECT_EQ(custom.exStyle, 0x200u);
    EXPECT_EQ(dlg->controls[2].className, "LISTBOX");
    EXPECT_EQ(dlg->controls[2].id, -1);
}

TEST_F(TemplateForms, DialogWithoutFont) {
    auto dlg = parseDialog(get(RT_DIALOG, "NoFont"));
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dlg->style, static_cast<std::uint32_t>(WS_POPUP));
    EXPECT_TRUE(dlg->fontName.empty());
    EXPECT_EQ(dlg->pointSize, 0);
    ASSERT_EQ(dlg->controls.size(), 1u);
    EXPECT_EQ(dlg->controls[0].className, "BUTTON");
    EXPECT_EQ(dlg->controls[0].style & 0xF, unsigned{BS_CHECKBOX});
}

TEST(ResourceKeys, FromNameArguments) {
    struct Case {
        LPCSTR name;
        bool isOrdinal;
        unsigned ordinal;
        const char *text;
    };
    const Case cases[] = {
        {MAKEINTRESOURCEA(109), true, 109, ""},
        {"#109", true, 109, ""},
        {"#65535", true, 65535, ""},
        {"#65536", false, 0, "#65536"},  // too large to be an ordinal
        {"#12a", false, 0, "#12A"},
        {"#", false, 0, "#"},
        {"Keys", false, 0, "KEYS"},
    };
    for (const Case &c : cases) {
        ResourceKey key = ResourceKey::from(c.name);
        SCOPED_TRACE(IS_INTRESOURCE(c.name) ? "ordinal" : c.name);
        EXPECT_EQ(key.isOrdinal, c.isOrdinal);
        if (c.isOrdinal)
            EXPECT_EQ(key.ordinal, c.ordinal);
        else
            EXPECT_EQ(key.name, c.text);
    }
}

}  // namespace
