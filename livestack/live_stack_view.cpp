// What the Live Stack window shows: the stack stretched for the eye (the
// stack itself stays linear), the histogram of its values below it with the
// black and white points marked, and the lines of text.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "live_stack.h"

#define HISTOGRAM_HEIGHT 64
// A level button moves black or white by this share of the stack's range,
// the midtone by this much, within these bounds.
#define LEVEL_STEPS 50
#define MIDTONE_STEP 0.05f
#define MIDTONE_LEAST 0.01f
#define MIDTONE_MOST 0.99f

// Where a value of the stack falls across `width` columns of the histogram.
static int HistogramColumn(const noctil::stack::Histogram &h, float value, int width) {
    if (h.high <= h.low) return 0;
    int x = (int)((value - h.low) / (h.high - h.low) * (float)width);
    return x < 0 ? 0 : x >= width ? width - 1 : x;
}

// The histogram into the bottom HISTOGRAM_HEIGHT rows: each channel a bar of
// its colour (grey: all three) against the fullest bin, on a log scale so
// the faint tail shows; the black and white points as grey lines.
static void DrawHistogram(const LiveStack *live, BYTE *rows, size_t stride, int width) {
    const noctil::stack::Histogram &h = live->histogram;
    double most = 1;
    for (int c = 0; c < h.channels; c++)
        for (std::uint32_t n : h.counts[c]) most = n > most ? n : most;
    for (int x = 0; x < width; x++) {
        int bin = x * 256 / width;
        for (int c = 0; c < h.channels; c++) {
            int bar = (int)(log1p((double)h.counts[c][bin]) / log1p(most) * HISTOGRAM_HEIGHT);
            for (int y = 0; y < bar && y < HISTOGRAM_HEIGHT; y++) {
                BYTE *pixel = rows + (size_t)y * stride + (size_t)x * 3;
                // DIB pixels are B, G, R; the stack's channels R, G, B.
                if (h.channels == 1)
                    pixel[0] = pixel[1] = pixel[2] = 200;
                else
                    pixel[2 - c] = 220;
            }
        }
    }
    const int marks[2] = {HistogramColumn(h, live->levels.black, width), HistogramColumn(h, live->levels.white, width)};
    for (int x : marks)
        for (int y = 0; y < HISTOGRAM_HEIGHT; y++) {
            BYTE *pixel = rows + (size_t)y * stride + (size_t)x * 3;
            pixel[0] = pixel[1] = pixel[2] = 128;
        }
}

void RenderStackView(LiveStack *live) {
    const noctil::stack::StackView view = live->stacker.stack();
    if (view.combined == 0) {
        live->viewRows.clear();
        return;
    }
    const noctil::stack::FrameFormat &format = view.format;
    live->stretcher.reserve((size_t)format.width * format.height);
    if (!live->levelsByUser) live->levels = live->stretcher.automatic(view.planes, format);
    live->stretcher.histogram(view.planes, format, live->histogram);

    size_t stride = noctil::stack::dibRowBytes(format.width);
    BITMAPINFOHEADER *h = &live->viewHeader;
    memset(h, 0, sizeof *h);
    h->biSize = sizeof *h;
    h->biWidth = (LONG)format.width;
    h->biHeight = (LONG)(format.height + HISTOGRAM_HEIGHT);
    live->stackHeight = format.height;
    h->biPlanes = 1;
    h->biBitCount = 24;
    h->biCompression = BI_RGB;
    h->biSizeImage = (DWORD)(stride * (size_t)h->biHeight);
    // Bottom-up rows: the histogram's rows first, the stack's above them.
    live->viewRows.assign(h->biSizeImage, 0);
    BYTE *stackRows = live->viewRows.data() + stride * HISTOGRAM_HEIGHT;
    live->stretcher.render(view.planes, format, live->levels,
                           std::span<std::uint8_t>(stackRows, stride * format.height));
    DrawHistogram(live, live->viewRows.data(), stride, (int)format.width);
}

void ShowStackState(const LiveStack *live) {
    HWND window = app.liveStackWindow;
    if (window == NULL || live == NULL) return;
    for (int line = 0; line < STACK_LINES; line++) SetDlgItemTextA(window, IDC_STACK_COUNTS + line, live->lines[line]);
    char levels[STACK_LINE_SIZE] = "";
    if (!live->viewRows.empty())
        snprintf(levels, sizeof levels, "%s %.1f / %.1f / %.2f", live->levelsByUser ? "Levels" : "Auto",
                 (double)live->levels.black, (double)live->levels.white, (double)live->levels.midtone);
    SetDlgItemTextA(window, IDC_STACK_LEVELS, levels);
    InvalidateRect(window, NULL, FALSE);
    UpdateWindow(window);
}

LRESULT MoveStackLevel(WORD button) {
    LiveStack *live = app.liveStack;
    if (live == NULL || live->viewRows.empty()) return 0;  // no stack to show yet
    noctil::stack::StretchLevels &l = live->levels;
    float step = (live->histogram.high - live->histogram.low) / LEVEL_STEPS;
    switch (button) {
    case IDC_STACK_AUTO: live->levelsByUser = FALSE; break;
    case IDC_STACK_BLACK_DOWN: l.black -= step; break;
    case IDC_STACK_BLACK_UP: l.black = fminf(l.black + step, l.white - step); break;
    case IDC_STACK_WHITE_DOWN: l.white = fmaxf(l.white - step, l.black + step); break;
    case IDC_STACK_WHITE_UP: l.white += step; break;
    case IDC_STACK_MID_DOWN: l.midtone = fmaxf(l.midtone - MIDTONE_STEP, MIDTONE_LEAST); break;
    case IDC_STACK_MID_UP: l.midtone = fminf(l.midtone + MIDTONE_STEP, MIDTONE_MOST); break;
    default: return 0;
    }
    if (button != IDC_STACK_AUTO) live->levelsByUser = TRUE;
    RenderStackView(live);
    ShowStackState(live);
    return 0;
}
