// Painting: which windows need WM_PAINT, the paint cycle, and the one GDI
// call the program draws with. There are no pixels here: each window keeps
// the last DIB drawn on it, for the displays to show and tests to inspect.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "user/user_state.h"

namespace plat::user {

namespace {

// Device contexts are numbered after their window, so a stale one is
// recognised once the window has gone.
constexpr std::uintptr_t kDcOffset = 8;

HDC dcOf(HWND window) { return handleOf<HDC>(key(window) + kDcOffset); }

std::size_t colourTableBytes(const BITMAPINFOHEADER &h) {
    if (h.biCompression == BI_BITFIELDS) return 3 * sizeof(DWORD);
    if (h.biClrUsed) return std::size_t{h.biClrUsed} * sizeof(RGBQUAD);
    if (h.biBitCount <= 8) return (std::size_t{1} << h.biBitCount) * sizeof(RGBQUAD);
    return 0;
}

// Copies `size` bytes into `to`, reusing its storage. The bytes may be the
// surface's own (a window painted again with what it shows); such a range
// is never longer than the vector, so they are moved before it shrinks and
// it only grows for bytes that lie elsewhere.
void copyInto(std::vector<std::uint8_t> &to, const void *from, std::size_t size) {
    if (size > to.size()) to.resize(size);
    if (size) std::memmove(to.data(), from, size);
    to.resize(size);
}

RECT unite(const RECT &a, const RECT &b) {
    return RECT{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                std::max(a.bottom, b.bottom)};
}

}  // namespace

void invalidate(WindowRecord &w, const RECT *rect, bool erase) {
    RECT area = rect ? *rect : clientRectOf(w);
    w.invalidRect = w.invalid ? unite(w.invalidRect, area) : area;
    w.invalid = true;
    w.erase = w.erase || erase;
}

HWND windowFromDc(HDC dc) {
    if (key(dc) < kDcOffset) return nullptr;
    HWND window = handleOf<HWND>(key(dc) - kDcOffset);
    return lookup(window) ? window : nullptr;
}

const PaintSurface *paintSurface(HWND window) {
    auto w = lookup(window);
    return w && w->surface ? &*w->surface : nullptr;
}

int drawDib(HWND window, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc, UINT startScan,
            UINT scanLines, const void *bits, const BITMAPINFO *info) {
    auto w = lookup(window);
    if (!w || !bits || !info) return 0;
    const BITMAPINFOHEADER &h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biWidth <= 0 || h.biHeight == 0 || h.biBitCount == 0 ||
        h.biBitCount > 32)
        return 0;
    const UINT rows = static_cast<UINT>(std::abs(static_cast<long>(h.biHeight)));
    if (startScan >= rows) return 0;
    scanLines = std::min(scanLines, rows - startScan);
    std::size_t rowBytes = ((static_cast<std::size_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
    std::size_t bitsBytes = rowBytes * scanLines;
    if (h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4) bitsBytes = h.biSizeImage;

    // The surface is kept from paint to paint: an image of the same size
    // reuses its storage, so live video and repaints allocate nothing.
    if (!w->surface) w->surface.emplace();
    PaintSurface &surface = *w->surface;
    surface.xDest = xDest;
    surface.yDest = yDest;
    surface.width = static_cast<int>(width);
    surface.height = static_cast<int>(height);
    surface.xSrc = xSrc;
    surface.ySrc = ySrc;
    surface.startScan = startScan;
    surface.scanLines = scanLines;
    copyInto(surface.info, info, h.biSize + colourTableBytes(h));
    copyInto(surface.bits, bits, bitsBytes);
    ++surface.serial;
    notify(window, Change::Painted);
    return static_cast<int>(scanLines);
}

}  // namespace plat::user

using namespace plat;
using namespace plat::user;

extern "C" {

BOOL WINAPI InvalidateRect(HWND window, const RECT *rect, BOOL erase) {
    if (!window) {  // every window
        for (auto &[id, w] : state().windows) invalidate(*w, nullptr, erase);
        return TRUE;
    }
    auto w = lookup(window);
    if (!w) return FALSE;
    invalidate(*w, rect, erase);
    return TRUE;
}

BOOL WINAPI UpdateWindow(HWND window) {
    auto w = lookup(window);
    if (!w) return FALSE;
    if (w->invalid && isVisible(*w)) SendMessageA(window, WM_PAINT, 0, 0);
    for (HWND child : children(window)) UpdateWindow(child);
    return TRUE;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    auto w = lookup(window);
    if (!w || !paint) return nullptr;
    std::memset(paint, 0, sizeof *paint);
    paint->hdc = dcOf(window);
    paint->fErase = w->erase;
    paint->rcPaint = w->invalid ? w->invalidRect : RECT{};
    w->invalid = false;
    w->erase = false;
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT *paint) { return lookup(window) && paint ? TRUE : FALSE; }

int WINAPI SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                             UINT startScan, UINT scanLines, const void *bits, const BITMAPINFO *info, UINT colorUse) {
    HWND window = windowFromDc(dc);
    if (!window || colorUse != DIB_RGB_COLORS) return 0;
    return drawDib(window, xDest, yDest, width, height, xSrc, ySrc, startScan, scanLines, bits, info);
}

}  // extern "C"
