// The program's own resources, read back through the platform's reader: the
// main menu and accelerators, both dialog templates, the icons and the
// toolbar images are what the window system and the program rely on.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <map>

#include "core/session.h"
#include "resource.h"
#include "resources/resources.h"
#include "test_session.h"

namespace {

using plat::res::DialogControl;
using plat::res::MenuItem;
using plat::res::moduleInstance;

// The program's module is what its session serves.
class ProgramResourcesTest : public ::testing::Test {
    noctil::test::TestSession session_;
};
using ProgramMenu = ProgramResourcesTest;
using ProgramAccelerators = ProgramResourcesTest;
using ProgramDialogs = ProgramResourcesTest;
using ProgramIcons = ProgramResourcesTest;
using ProgramResources = ProgramResourcesTest;

struct ExpectedItem {
    const char *text;
    unsigned id;
    unsigned flags;
};

TEST_F(ProgramMenu, PopupsAndItemsInOrder) {
    auto menu = plat::res::loadMenu(moduleInstance(), MAKEINTRESOURCEA(IDC_MAINMENU));
    ASSERT_TRUE(menu);
    struct Popup {
        const char *text;
        std::vector<ExpectedItem> items;
    };
    const std::vector<Popup> expected = {
        {"&File",
         {{"&Save images in...", IDM_SAVEIMAGESIN, 0},
          {"&Autoincrement", IDM_AUTOINCREMENT, 0},
          {"", 0, MF_SEPARATOR},
          {"E&xit", IDM_EXIT, 0}}},
        {"&Options",
         {{"Video &Source", IDM_VIDEOSOURCE, 0},
          {"Video &Format", IDM_VIDEOFORMAT, 0},
          {"&Preview", IDM_PREVIEW, 0},
          {"&Overlay", IDM_OVERLAY, 0},
          {"", 0, MF_SEPARATOR}}},
        {"&Capture",
         {{"S&etup", IDM_SETUP, 0},
          {"", 0, MF_SEPARATOR},
          {"&Record", IDM_RECORD, 0},
          {"St&op", IDM_STOP, 0},
          {"&Pause", IDM_PAUSE, 0}}},
        {"&Help", {{"&About ...", IDM_ABOUT, 0}}},
    };
    ASSERT_EQ(menu->size(), expected.size());
    for (std::size_t p = 0; p < expected.size(); ++p) {
        const MenuItem &popup = (*menu)[p];
        SCOPED_TRACE(expected[p].text);
        EXPECT_EQ(popup.text, expected[p].text);
        EXPECT_EQ(popup.flags, unsigned{MF_POPUP});
        ASSERT_EQ(popup.items.size(), expected[p].items.size());
        for (std::size_t i = 0; i < popup.items.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(popup.items[i].text, expected[p].items[i].text);
            EXPECT_EQ(popup.items[i].id, expected[p].items[i].id);
            // Every item starts enabled and unchecked.
            EXPECT_EQ(popup.items[i].flags, expected[p].items[i].flags);
            EXPECT_TRUE(popup.items[i].items.empty());
        }
    }
}

TEST_F(ProgramAccelerators, AltWithQuestionMarkAndSlashOpenAbout) {
    auto table = plat::res::loadAccelerators(moduleInstance(), MAKEINTRESOURCEA(IDC_MAINMENU));
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 2u);
    const std::array<WORD, 2> keys = {'?', '/'};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ((*table)[i].key, keys[i]);
        EXPECT_EQ((*table)[i].cmd, IDM_ABOUT);
        // Character codes with Alt: no FVIRTKEY.
        EXPECT_EQ((*table)[i].fVirt, FALT);
    }
}

void expectControls(const std::vector<DialogControl> &actual, const std::vector<DialogControl> &expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(expected[i].id));
        EXPECT_EQ(actual[i].className, expected[i].className);
        EXPECT_EQ(actual[i].text, expected[i].text);
        EXPECT_EQ(actual[i].textOrdinal, expected[i].textOrdinal);
        EXPECT_EQ(actual[i].id, expected[i].id);
        EXPECT_EQ(actual[i].style, expected[i].style) << std::hex << actual[i].style;
        EXPECT_EQ(actual[i].exStyle, 0u);
        EXPECT_EQ((std::array{actual[i].x, actual[i].y, actual[i].cx, actual[i].cy}),
                  (std::array{expected[i].x, expected[i].y, expected[i].cx, expected[i].cy}));
    }
}

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;

TEST_F(ProgramDialogs, AboutBox) {
    auto dlg = plat::res::loadDialog(moduleInstance(), MAKEINTRESOURCEA(IDD_ABOUTBOX));
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dlg->title, "About");
    EXPECT_EQ(dlg->style, 0x00C800C0u);
    EXPECT_EQ(dlg->exStyle, 0u);
    EXPECT_EQ(dlg->fontName, "System");
    EXPECT_EQ(dlg->pointSize, 8);
    EXPECT_EQ((std::array{dlg->x, dlg->y, dlg->cx, dlg->cy}), (std::array{22, 17, 204, 76}));
    expectControls(dlg->controls,
                   {
                       {"STATIC", "", IDI_APPICON, 2, kChild | SS_ICON, 0, 14, 9, 20, 20},
                       {"STATIC", "Long exposure image capture software for modified CCTV cameras", -1, -1,
                        kChild | WS_GROUP, 0, 49, 21, 119, 19},
                       {"BUTTON", "OK", -1, IDOK, kChild | WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 167, 7, 30, 11},
                   });
}

TEST_F(ProgramDialogs, SetupCapture) {
    auto dlg = plat::res::loadDialog(moduleInstance(), MAKEINTRESOURCEA(IDD_SETUP));
    ASSERT_TRUE(dlg);
    EXPECT_EQ(dlg->title, "Setup Capture");
    EXPECT_EQ(dlg->style, static_cast<std::uint32_t>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(dlg->fontName, "MS Sans Serif");
    EXPECT_EQ(dlg->pointSize, 8);
    EXPECT_EQ(dlg->cx, 257);
    EXPECT_EQ(dlg->cy, 118);
    constexpr std::uint32_t number = kChild | WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
    constexpr std::uint32_t check = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
    constexpr std::uint32_t push = kChild | WS_TABSTOP | BS_PUSHBUTTON;
    expectControls(dlg->controls,
                   {
                       {"STATIC", "Exposure time (ms)", -1, -1, kChild | SS_LEFT, 0, 7, 10, 64, 8},
                       {"EDIT", "", -1, IDC_EXPOSURE, number, 0, 73, 7, 40, 14},
                       {"STATIC", "Delay time (ms)", -1, -1, kChild | SS_LEFT, 0, 7, 24, 48, 8},
                       {"EDIT", "", -1, IDC_DELAY, number, 0, 73, 23, 40, 14},
                       {"STATIC", "Number of frames", -1, -1, kChild | SS_LEFT, 0, 7, 40, 56, 8},
                       {"EDIT", "", -1, IDC_COUNT, number, 0, 73, 39, 40, 14},
                       {"BUTTON", "Amplifier off during exposure", -1, IDC_AMPOFF, check, 0, 125, 9, 104, 10},
                       {"STATIC", "Save images in", -1, -1, kChild | SS_LEFT, 0, 7, 70, 49, 8},
                       {"EDIT", "", -1, IDC_FILENAME, kChild | WS_BORDER | WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL, 0,
                        74, 67, 92, 14},
                       {"BUTTON", "...", -1, IDC_BROWSE, push, 0, 172, 67, 12, 14},
                       {"BUTTON", "Autoincrement", -1, IDC_AUTOINCREMENT, check, 0, 187, 70, 61, 10},
                       {"BUTTON", "Start Capture", -1, IDC_STARTCAPTURE, push, 0, 7, 97, 50, 14},
                       {"BUTTON", "OK", -1, IDOK, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 200, 97, 50, 14},
                       {"BUTTON", "Cancel", -1, IDCANCEL, push, 0, 143, 97, 50, 14},
                   });
}

// ---- Images ---------------------------------------------------------------------

// The pixels of a 4-bit packed DIB as palette indexes, top row first.
struct Pixels4 {
    int width = 0, height = 0;
    std::vector<RGBQUAD> palette;
    std::vector<std::vector<int>> rows;
};

Pixels4 decode4(const std::vector<std::uint8_t> &dib, int rowsHeight) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.data(), sizeof h);
    Pixels4 p;
    p.width = h.biWidth;
    p.height = rowsHeight;
    p.palette.resize(16);
    std::memcpy(p.palette.data(), dib.data() + h.biSize, 16 * sizeof(RGBQUAD));
    const std::size_t stride = ((p.width * 4 + 31) / 32) * 4;
    const std::uint8_t *bits = dib.data() + h.biSize + 64;
    for (int y = 0; y < rowsHeight; ++y) {
        const std::uint8_t *row = bits + (rowsHeight - 1 - y) * stride;  // bottom-up
        std::vector<int> line;
        for (int x = 0; x < p.width; ++x) line.push_back(x % 2 ? row[x / 2] & 0xF : row[x / 2] >> 4);
        p.rows.push_back(line);
    }
    return p;
}

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb &) const = default;
};

Rgb colour(const Pixels4 &p, int x, int y) {
    const RGBQUAD &q = p.palette[p.rows[y][x]];
    return {q.rgbRed, q.rgbGreen, q.rgbBlue};
}

constexpr Rgb kGrey{192, 192, 192}, kRed{255, 0, 0}, kBlack{0, 0, 0}, kBlue{0, 0, 255}, kDarkGrey{128, 128, 128},
    kWhite{255, 255, 255};

// Bounding box and count of the pixels of one colour in one 16x15 button image.
struct Area {
    int left = 99, top = 99, right = -1, bottom = -1, count = 0;
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

Area area(const Pixels4 &p, int image, Rgb c) {
    Area a;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 16; ++x)
            if (colour(p, image * 16 + x, y) == c) {
                a.left = std::min(a.left, x), a.right = std::max(a.right, x);
                a.top = std::min(a.top, y), a.bottom = std::max(a.bottom, y);
                ++a.count;
            }
    return a;
}

std::map<int, int> coloursUsed(const Pixels4 &p, int image) {
    std::map<int, int> used;
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 16; ++x) ++used[p.rows[y][image * 16 + x]];
    return used;
}

class ToolbarBitmap : public ProgramResourcesTest {
protected:
    void SetUp() override {
        auto dib = plat::res::loadBitmap(moduleInstance(), MAKEINTRESOURCEA(IDB_TOOLBAR));
        ASSERT_TRUE(dib);
        std::memcpy(&header, dib->data(), sizeof header);
        ASSERT_EQ(header.biBitCount, 4);
        pixels = decode4(*dib, header.biHeight);
    }
    BITMAPINFOHEADER header{};
    Pixels4 pixels;
};

TEST_F(ToolbarBitmap, FourImagesOf16x15WithTheStandardPalette) {
    EXPECT_EQ(header.biWidth, 64);
    EXPECT_EQ(header.biHeight, 15);
    EXPECT_EQ(header.biCompression, unsigned{BI_RGB});
    const std::array<Rgb, 16> standard = {{{0, 0, 0},
                                           {128, 0, 0},
                                           {0, 128, 0},
                                           {128, 128, 0},
                                           {0, 0, 128},
                                           {128, 0, 128},
                                           {0, 128, 128},
                                           {192, 192, 192},
                                           {128, 128, 128},
                                           {255, 0, 0},
                                           {0, 255, 0},
                                           {255, 255, 0},
                                           {0, 0, 255},
                                           {255, 0, 255},
                                           {0, 255, 255},
                                           {255, 255, 255}}};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ((Rgb{pixels.palette[i].rgbRed, pixels.palette[i].rgbGreen, pixels.palette[i].rgbBlue}), standard[i])
            << i;
    // Every image stands on light grey: its corners are background.
    for (int image = 0; image < 4; ++image)
        for (auto [x, y] : {std::pair{0, 0}, {15, 0}, {0, 14}, {15, 14}})
            EXPECT_EQ(colour(pixels, image * 16 + x, y), kGrey) << image;
}

TEST_F(ToolbarBitmap, RecordIsARedDisc) {
    Area red = area(pixels, 0, kRed);
    EXPECT_EQ(red.width(), 12);
    EXPECT_EQ(red.height(), 11);
    // A disc, not a box: its corners are background, its rows are full in the middle.
    EXPECT_EQ(colour(pixels, red.left, red.top), kGrey);
    EXPECT_EQ(colour(pixels, red.right, red.bottom), kGrey);
    EXPECT_EQ(coloursUsed(pixels, 0).size(), 2u);
}

TEST_F(ToolbarBitmap, StopIsABlackSquare) {
    Area black = area(pixels, 1, kBlack);
    EXPECT_EQ(black.width(), 8);
    EXPECT_EQ(black.height(), 7);
    EXPECT_EQ(black.count, 8 * 7);
    EXPECT_EQ(coloursUsed(pixels, 1).size(), 2u);
}

TEST_F(ToolbarBitmap, PauseIsTwoBarsThreeApart) {
    Area black = area(pixels, 2, kBlack);
    EXPECT_EQ(black.height(), 10);
    EXPECT_EQ(black.count, 2 * 3 * 10);
    // Across a middle row: 3 black, 3 grey, 3 black.
    int y = black.top + 5;
    std::string row;
    for (int x = black.left; x <= black.right; ++x) row += colour(pixels, 32 + x, y) == kBlack ? 'B' : '.';
    EXPECT_EQ(row, "BBB...BBB");
}

TEST_F(ToolbarBitmap, SetupIsASmallDialogWindow) {
    // Everything that is not background forms the 12x10 window.
    Area frame;
    for (Rgb c : {kBlack, kBlue, kDarkGrey, kWhite}) {
        Area a = area(pixels, 3, c);
        if (!a.count) continue;
        frame.left = std::min(frame.left, a.left), frame.right = std::max(frame.right, a.right);
        frame.top = std::min(frame.top, a.top), frame.bottom = std::max(frame.bottom, a.bottom);
    }
    EXPECT_EQ(frame.width(), 12);
    EXPECT_EQ(frame.height(), 10);
    // Black outline all around.
    for (int x = frame.left; x <= frame.right; ++x) {
        EXPECT_EQ(colour(pixels, 48 + x, frame.top), kBlack);
        EXPECT_EQ(colour(pixels, 48 + x, frame.bottom), kBlack);
    }
    // Blue title bar just below the top edge, a dark grey body below it.
    Area blue = area(pixels, 3, kBlue);
    EXPECT_EQ(blue.top, frame.top + 1);
    EXPECT_EQ(blue.width(), 10);
    EXPECT_GT(area(pixels, 3, kDarkGrey).count, 30);
    // Four black dots inside the body, in a 2x2 group.
    int dots = area(pixels, 3, kBlack).count - (2 * 12 + 2 * 8);
    EXPECT_EQ(dots, 4);
    // A white upright bar in the right half.
    Area white = area(pixels, 3, kWhite);
    EXPECT_EQ(white.width(), 1);
    EXPECT_GE(white.height(), 3);
    EXPECT_GT(white.left, frame.left + 6);
}

TEST_F(ProgramIcons, SixteenColourImagesWithMasks) {
    struct Case {
        int group;
        std::vector<int> sizes;
    };
    for (const Case &c : {Case{IDI_APPICON, {32, 16}}, Case{IDI_APPICON_SMALL, {16}}}) {
        SCOPED_TRACE(c.group);
        auto icons = plat::res::loadIconGroup(moduleInstance(), MAKEINTRESOURCEA(c.group));
        ASSERT_TRUE(icons);
        ASSERT_EQ(icons->size(), c.sizes.size());
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            const auto &icon = (*icons)[i];
            EXPECT_EQ(icon.width, c.sizes[i]);
            EXPECT_EQ(icon.height, c.sizes[i]);
            EXPECT_EQ(icon.bitCount, 4);
            // The mask follows the colour rows and has both transparent and opaque pixels.
            const std::size_t maskStride = ((icon.width + 31) / 32) * 4;
            const std::size_t colourBytes = ((icon.width * 4 + 31) / 32) * 4 * icon.height;
            const std::size_t maskAt = 40 + 64 + colourBytes;
            ASSERT_EQ(icon.dib.size(), maskAt + maskStride * icon.height);
            int transparent = 0;
            for (int y = 0; y < icon.height; ++y)
                for (int x = 0; x < icon.width; ++x)
                    transparent += (icon.dib[maskAt + y * maskStride + x / 8] >> (7 - x % 8)) & 1;
            EXPECT_GT(transparent, 0);
            EXPECT_LT(transparent, icon.width * icon.height / 2);
        }
    }
}

TEST_F(ProgramResources, NamesAndModules) {
    // "#109" names the same resource as MAKEINTRESOURCE(109).
    auto byNumber = plat::res::loadMenu(moduleInstance(), "#109");
    ASSERT_TRUE(byNumber);
    EXPECT_EQ(byNumber->size(), 4u);
    EXPECT_FALSE(plat::res::loadMenu(moduleInstance(), MAKEINTRESOURCEA(110)));
    EXPECT_FALSE(plat::res::loadMenu(moduleInstance(), "MAIN"));
    // A dialog id is not a menu id: types are kept apart.
    EXPECT_FALSE(plat::res::loadMenu(moduleInstance(), MAKEINTRESOURCEA(IDD_SETUP)));
    EXPECT_FALSE(plat::res::loadBitmap(moduleInstance(), MAKEINTRESOURCEA(IDI_APPICON)));
    // No module the session was not given.
    EXPECT_FALSE(plat::res::loadDialog(reinterpret_cast<HINSTANCE>(0x1234), MAKEINTRESOURCEA(IDD_SETUP)));
    EXPECT_FALSE(plat::res::loadDialog(nullptr, MAKEINTRESOURCEA(IDD_SETUP)));
}

// The reader links no program: a session made without the program's
// resources has no menu to give.
TEST(ProgramModule, OnlyWhatTheSessionWasGiven) {
    const std::filesystem::path root = noctil::test::makeTempDirectory("noctil-bare");
    {
        plat::Session bare(plat::SessionOptions{root, true, nullptr});
        EXPECT_FALSE(plat::res::loadMenu(moduleInstance(), MAKEINTRESOURCEA(IDC_MAINMENU)));
    }
    std::filesystem::remove_all(root);
}

}  // namespace
