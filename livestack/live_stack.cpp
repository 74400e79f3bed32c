// The images of the exposure cycle into the live stack. Each image the
// cycle makes, written or paused, waits with its measured exposure until
// the next exposure has begun or the run has ended, and goes in then: the
// stacking work never stands between a readout and the next port write.
#include <stdio.h>
#include <string.h>

#include "live_stack.h"

void InitLiveStack(void) {
    app.liveStack = new LiveStack();
    snprintf(app.liveStack->lines[STACK_LINE_COUNTS], STACK_LINE_SIZE, "No images yet: Record starts the stack.");
}

void FreeLiveStack(void) {
    delete app.liveStack;
    app.liveStack = NULL;
}

// The stack starts again: the next image the cycle makes is the reference.
static void ClearStack(LiveStack *live, const char *why) {
    live->stacker.reset();
    live->levelsByUser = FALSE;
    live->viewRows.clear();
    for (int line = 0; line < STACK_LINES; line++) live->lines[line][0] = '\0';
    snprintf(live->lines[STACK_LINE_COUNTS], STACK_LINE_SIZE, "%s", why);
    ShowStackState(live);
}

void StartLiveStack(void) {
    LiveStack *live = app.liveStack;
    if (live == NULL) return;  // a cycle driven without WinMain has no stack
    live->active = app.liveStackWindow != NULL;
    live->waiting = FALSE;
    live->imagesMade = 0;
    ClearStack(live, "Images in: 0   Left out: 0");
}

LRESULT ResetLiveStack(void) {
    // An image made before the reset belongs to the stack it ends.
    StackWaitingImage();
    ClearStack(app.liveStack, "Stack reset: the next image is the reference.");
    return 0;
}

// Seconds of a span of QueryPerformanceCounter microseconds.
static double Seconds(LONGLONG micros) { return (double)micros / 1e6; }

void QueueStackImage(BOOL paused) {
    LiveStack *live = app.liveStack;
    const PackedDib *image = app.lastImage;
    if (live == NULL || !live->active) return;
    live->imagesMade++;
    live->waiting = FALSE;
    // The images the program writes are bottom-up 24-bit DIBs; anything else
    // is told and left out, as the stacker's own reasons are.
    if (image == NULL || image->biBitCount != 24 || image->biCompression != BI_RGB || image->biHeight <= 0) {
        snprintf(live->lines[STACK_LINE_FATE], STACK_LINE_SIZE, "Image %u: left out: not a 24-bit image",
                 live->imagesMade);
        ShowStackState(live);
        return;
    }
    size_t bytes = noctil::stack::dibRowBytes((std::uint32_t)image->biWidth) * (size_t)image->biHeight;
    live->imageRows.assign(app.lastImageBits, app.lastImageBits + bytes);
    noctil::stack::ImageIn &in = live->image;
    in = noctil::stack::ImageIn();
    // Channels 0: the stacker tells grey from colour.
    in.format = {(std::uint32_t)image->biWidth, (std::uint32_t)image->biHeight, 0,
                 noctil::stack::fieldModeForHeight((std::uint32_t)image->biHeight)};
    in.rows = live->imageRows;
    in.number = live->imagesMade;
    if (app.portTiming.known) {
        in.exposureS = Seconds(app.portTiming.lastMicros);
        in.ampOffS = Seconds(app.portTiming.lastAmpOffMicros);
    }
    live->waitingPaused = paused;
    live->waiting = TRUE;
}

// The fate of the image that went in last, as the window's lines.
static void DescribeFate(LiveStack *live, const noctil::stack::ImageResult &r) {
    char(*lines)[STACK_LINE_SIZE] = live->lines;
    snprintf(lines[STACK_LINE_COUNTS], STACK_LINE_SIZE, "Images in: %d   Left out: %d", live->stacker.imagesIn(),
             live->stacker.imagesLeftOut());
    const char *paused = live->waitingPaused ? " (paused: not in the file)" : "";
    if (r.reference)
        snprintf(lines[STACK_LINE_FATE], STACK_LINE_SIZE, "Image %u: the reference%s", r.number, paused);
    else if (r.stacked)
        snprintf(lines[STACK_LINE_FATE], STACK_LINE_SIZE, "Image %u: stacked%s", r.number, paused);
    else
        snprintf(lines[STACK_LINE_FATE], STACK_LINE_SIZE, "Image %u: left out: %s%s", r.number, r.reason, paused);
    snprintf(lines[STACK_LINE_STARS], STACK_LINE_SIZE, "Stars: %d   Median FWHM: %.2f px", r.stars,
             (double)r.medianFwhm);
    if (r.stacked && !r.reference)
        snprintf(lines[STACK_LINE_SHIFT], STACK_LINE_SIZE, "Shift: %.2f, %.2f px   Rotation: %.3f degrees", r.shiftX,
                 r.shiftY, r.rotationDeg);
    else if (r.reference)
        snprintf(lines[STACK_LINE_SHIFT], STACK_LINE_SIZE, "Shift: none (the reference)");
    else
        snprintf(lines[STACK_LINE_SHIFT], STACK_LINE_SIZE, "Shift: not measured");
    snprintf(lines[STACK_LINE_CALIBRATION], STACK_LINE_SIZE, "%s%s%s",
             r.calibration[0] ? r.calibration : "No dark or flat", r.notice[0] ? "; " : "", r.notice);
}

void StackWaitingImage(void) {
    LiveStack *live = app.liveStack;
    if (live == NULL || !live->waiting) return;
    live->waiting = FALSE;
    // A left-out image is told in the window; the run goes on.
    DescribeFate(live, live->stacker.add(live->image));
    RenderStackView(live);
    ShowStackState(live);
}
