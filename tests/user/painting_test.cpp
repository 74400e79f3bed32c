// The paint cycle and the image a window keeps from SetDIBitsToDevice.
#include <array>
#include <cstring>
#include <vector>

#include "alloc_counter.h"
#include "probe_window.h"

namespace noctil::test {
namespace {

using Painting = UserTest;

TEST_F(Painting, UpdateWindowPaintsAtOnceOnlyWhenSomethingIsInvalid) {
    HWND w = make();
    UpdateWindow(w);
    EXPECT_TRUE(got(w, {WM_PAINT}).empty()) << "a hidden window does not paint";
    ShowWindow(w, SW_SHOWNORMAL);
    UpdateWindow(w);
    EXPECT_EQ(got(w, {WM_PAINT}).size(), 1u);
    UpdateWindow(w);  // DefWindowProcA validated it
    EXPECT_EQ(got(w, {WM_PAINT}).size(), 1u);
    InvalidateRect(w, nullptr, TRUE);
    UpdateWindow(w);
    EXPECT_EQ(got(w, {WM_PAINT}).size(), 2u);
}

TEST_F(Painting, BeginPaintReportsTheUnitedInvalidAreaAndValidates) {
    HWND w = make(WS_POPUP | WS_VISIBLE);
    PAINTSTRUCT ps;
    BeginPaint(w, &ps);  // the area shown first
    EndPaint(w, &ps);
    RECT a{10, 10, 20, 20}, b{50, 5, 60, 15};
    InvalidateRect(w, &a, FALSE);
    InvalidateRect(w, &b, FALSE);
    HDC dc = BeginPaint(w, &ps);
    EXPECT_NE(dc, nullptr);
    EXPECT_EQ(ps.hdc, dc);
    EXPECT_FALSE(ps.fErase);
    EXPECT_EQ(ps.rcPaint.left, 10);
    EXPECT_EQ(ps.rcPaint.top, 5);
    EXPECT_EQ(ps.rcPaint.right, 60);
    EXPECT_EQ(ps.rcPaint.bottom, 20);
    EndPaint(w, &ps);
    // Nothing is left to paint: the loop goes on to the scripted quit.
    user().at(10, [] { PostQuitMessage(0); });
    EXPECT_EQ(runMessageLoop(), 0);
    EXPECT_TRUE(got(w, {WM_PAINT}).empty());
}

TEST_F(Painting, AProcedureThatPaintsIsAskedOnceThroughTheLoop) {
    HWND w = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    SetTimer(w, 1, 20, nullptr);
    handler = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_TIMER) PostQuitMessage(0);
        return std::nullopt;
    };
    EXPECT_EQ(runMessageLoop(), 0);
    const auto paints = all(WM_PAINT);
    ASSERT_EQ(paints.size(), 1u);
    EXPECT_EQ(paints[0].ms, 0u);
}

struct Dib8 {
    BITMAPINFOHEADER header;
    std::array<RGBQUAD, 256> palette;
};

// 6 x 3 pixels of 8 bits, rows padded to 8 bytes; the colour table all black.
Dib8 sixByThree() {
    Dib8 info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = 6;
    info.header.biHeight = 3;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    return info;
}

BITMAPINFO rgb24(LONG width, LONG height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    return info;
}

TEST_F(Painting, SetDIBitsToDeviceKeepsTheImageWithItsPalette) {
    HWND w = make(WS_POPUP | WS_VISIBLE);
    Dib8 info = sixByThree();
    info.palette[255] = RGBQUAD{1, 2, 3, 0};
    std::vector<std::uint8_t> bits(8 * 3);
    for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<std::uint8_t>(i);

    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    EXPECT_EQ(SetDIBitsToDevice(dc, 4, 5, 6, 3, 0, 0, 0, 3, bits.data(), reinterpret_cast<const BITMAPINFO *>(&info),
                                DIB_RGB_COLORS),
              3);
    EndPaint(w, &ps);
    const plat::user::PaintSurface *surface = plat::user::paintSurface(w);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(surface->xDest, 4);
    EXPECT_EQ(surface->yDest, 5);
    EXPECT_EQ(surface->serial, 1u);
    EXPECT_EQ(surface->info.size(), sizeof(Dib8));
    EXPECT_EQ(std::memcmp(surface->info.data(), &info, sizeof info), 0);
    EXPECT_EQ(surface->bits, bits);

    // More lines than the bitmap has are cut to the bitmap.
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 6, 3, 0, 0, 1, 10, bits.data(), reinterpret_cast<const BITMAPINFO *>(&info),
                                DIB_RGB_COLORS),
              2);
    EXPECT_EQ(surface->serial, 2u);
    EXPECT_EQ(surface->bits.size(), 16u);
}

// A window keeps one surface: an image of a size it has held before reuses
// its storage, and a window may be painted with the very image it shows.
TEST_F(Painting, ImagesOfAKnownSizeAllocateNothingAndAWindowCanRepaintItsOwnImage) {
    HWND w = make(WS_POPUP | WS_VISIBLE);
    Dib8 info = sixByThree();
    info.palette[7] = RGBQUAD{7, 8, 9, 0};
    std::vector<std::uint8_t> first(8 * 3, 0x11), second(8 * 3, 0x22);
    const auto *dib = reinterpret_cast<const BITMAPINFO *>(&info);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    EndPaint(w, &ps);
    ASSERT_EQ(SetDIBitsToDevice(dc, 0, 0, 6, 3, 0, 0, 0, 3, first.data(), dib, DIB_RGB_COLORS), 3);
    const plat::user::PaintSurface *surface = plat::user::paintSurface(w);
    ASSERT_NE(surface, nullptr);
    // A display watches the window, as the Qt display does.
    int paintsSeen = 0;
    const int token = plat::user::subscribe([&](HWND, plat::user::Change change) {
        if (change == plat::user::Change::Painted) ++paintsSeen;
    });

    struct Step {
        const char *what;
        UINT lines;
        const std::vector<std::uint8_t> *bits;
        std::uint8_t expected;
    };
    const Step steps[] = {
        {"the same size, new rows", 3, &second, 0x22},
        {"fewer rows", 1, &first, 0x11},
        {"back to the size it held", 3, &second, 0x22},
    };
    std::uint64_t serial = surface->serial;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        alloc_counter::Scope scope;
        EXPECT_EQ(
            SetDIBitsToDevice(dc, 0, 0, 6, step.lines, 0, 0, 0, step.lines, step.bits->data(), dib, DIB_RGB_COLORS),
            static_cast<int>(step.lines));
        EXPECT_EQ(scope.count(), 0u);
        EXPECT_EQ(surface->serial, ++serial);
        EXPECT_EQ(surface->bits, std::vector<std::uint8_t>(8 * step.lines, step.expected));
    }
    EXPECT_EQ(paintsSeen, 3);
    plat::user::unsubscribe(token);

    // Its own image, header and rows alike, painted on it again.
    const std::vector<std::uint8_t> shown = surface->bits, shownInfo = surface->info;
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 6, 3, 0, 0, 0, 3, surface->bits.data(),
                                reinterpret_cast<const BITMAPINFO *>(surface->info.data()), DIB_RGB_COLORS),
              3);
    EXPECT_EQ(surface->bits, shown);
    EXPECT_EQ(surface->info, shownInfo);
    // And only its top rows, which move down to the start.
    std::vector<std::uint8_t> rows(8 * 3);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(SetDIBitsToDevice(dc, 0, 0, 6, 3, 0, 0, 0, 3, rows.data(), dib, DIB_RGB_COLORS), 3);
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 6, 2, 0, 0, 0, 2, surface->bits.data() + 8, dib, DIB_RGB_COLORS), 2);
    EXPECT_EQ(surface->bits, std::vector<std::uint8_t>(rows.begin() + 8, rows.end()));
}

// An observer may leave, or bring another, while it is told of a change.
TEST_F(Painting, ObserversMayComeAndGoWhileTheyAreNotified) {
    HWND w = make(WS_POPUP | WS_VISIBLE);
    const BITMAPINFO info = rgb24(1, 1);
    const std::uint8_t bits[4] = {};
    int leaver = 0, stayer = 0, latecomer = 0, leaverToken = 0, latecomerToken = 0;
    leaverToken = plat::user::subscribe([&](HWND, plat::user::Change) {
        ++leaver;
        plat::user::unsubscribe(leaverToken);
        if (!latecomerToken) latecomerToken = plat::user::subscribe([&](HWND, plat::user::Change) { ++latecomer; });
    });
    const int stayerToken = plat::user::subscribe([&](HWND, plat::user::Change) { ++stayer; });
    for (int i = 0; i < 2; ++i) ASSERT_EQ(plat::user::drawDib(w, 0, 0, 1, 1, 0, 0, 0, 1, bits, &info), 1);
    EXPECT_EQ(leaver, 1);
    EXPECT_EQ(stayer, 2);
    EXPECT_EQ(latecomer, 2) << "one who comes during a notice hears it too";
    plat::user::unsubscribe(stayerToken);
    plat::user::unsubscribe(latecomerToken);
}

TEST_F(Painting, SetDIBitsToDeviceRefusesWhatItCannotDraw) {
    HWND w = make(WS_POPUP | WS_VISIBLE);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    EndPaint(w, &ps);
    const BITMAPINFO info = rgb24(2, 2);
    std::uint8_t bits[16] = {};
    BITMAPINFO broken = info;
    broken.bmiHeader.biWidth = 0;
    struct Case {
        const char *what;
        HDC dc;
        const void *bits;
        const BITMAPINFO *info;
    };
    const Case cases[] = {
        {"no device context", nullptr, bits, &info},
        {"no bits", dc, nullptr, &info},
        {"zero width", dc, bits, &broken},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(SetDIBitsToDevice(c.dc, 0, 0, 2, 2, 0, 0, 0, 2, c.bits, c.info, DIB_RGB_COLORS), 0);
    }
    EXPECT_EQ(plat::user::paintSurface(w), nullptr);
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 0, 0, 0, 2, bits, &info, DIB_RGB_COLORS), 2);
    DestroyWindow(w);
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 2, 2, 0, 0, 0, 2, bits, &info, DIB_RGB_COLORS), 0)
        << "the device context went with its window";
}

}  // namespace
}  // namespace noctil::test
