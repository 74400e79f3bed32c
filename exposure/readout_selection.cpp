// Choosing the readout frame. The capture driver calls ReadoutFrameCallback
// for every streamed frame. After an exposure it switches the camera to
// readout on the first frame, scores the next frames by the brightness of a
// small window, keeps the best in BestFrameBuffer, beeps and stops the
// stream. On interlaced video of 480 or 576 lines it keeps the brighter
// field of each frame over two passes, one for the odd rows and one for the
// even rows: the camera reads its charge out one field per pass whatever its
// line count. In the render
// state it stamps the kept image onto every frame the driver delivers.
//
// Frames arrive at video rate, so nothing here allocates: the work per
// frame is the measurement window and the copies of a winning frame.
#include <string.h>

#include "app_state.h"

// The heights read out field by field: 480-line and 576-line interlaced
// video. Every other height is read as whole frames.
#define FIELD_MODE_HEIGHT_525 480
#define FIELD_MODE_HEIGHT_625 576

static BOOL IsFieldModeHeight(UINT height)
{
    return height == FIELD_MODE_HEIGHT_525 || height == FIELD_MODE_HEIGHT_625;
}

// The measurement window: rows 10 to 19, bytes 30 to 229 of each row.
#define WINDOW_FIRST_ROW 10
#define WINDOW_ROWS 10
#define WINDOW_FIRST_BYTE 30
#define WINDOW_BYTES 200

#define SIMPLE_BEEP 0xFFFFFFFF

struct WindowSums {
    INT even;  // rows 10, 12, ..., 18
    INT odd;   // rows 11, 13, ..., 19
};

static WindowSums SumWindow(const BYTE *frame, DWORD rowLength)
{
    WindowSums sums = {0, 0};
    for (int row = WINDOW_FIRST_ROW; row < WINDOW_FIRST_ROW + WINDOW_ROWS; row++) {
        const BYTE *bytes = frame + (size_t)row * rowLength + WINDOW_FIRST_BYTE;
        INT sum = 0;
        for (int i = 0; i < WINDOW_BYTES; i++) sum += bytes[i];
        if (row % 2 == 0)
            sums.even += sum;
        else
            sums.odd += sum;
    }
    return sums;
}

// A frame the selection can work with: rows of a known height, no longer
// than BestFrameBuffer, and long enough to hold the measurement window.
// Any other frame is refused whole, in every state: it is not armed on,
// scored, kept or overwritten, so a stream of such frames ends at the
// driver's time limit with no image.
static BOOL IsUsableFrame(const VIDEOHDR *header, DWORD rowLength)
{
    if (header->lpData == NULL || rowLength == 0) return FALSE;
    if (header->dwBufferLength > sizeof app.BestFrameBuffer) return FALSE;
    size_t windowEnd = (size_t)(WINDOW_FIRST_ROW + WINDOW_ROWS - 1) * rowLength + WINDOW_FIRST_BYTE + WINDOW_BYTES;
    return header->dwBufferLength >= windowEnd;
}

static void StopStream(void)
{
    if (IsWindow(app.captureWindow)) SendMessageA(app.captureWindow, WM_CAP_STOP, 0, 0);
}

// The first frame after the exposure ends the integration; it never
// becomes part of the image.
static void Arm(const VIDEOHDR *header, BOOL fieldMode)
{
    app.SelectionState = SELECTION_ARMED_ON_FRAME;
    app.bestScore = 0;
    WriteCameraPort(fieldMode ? PORT_READOUT_480 : PORT_READOUT);
    memset(app.BestFrameBuffer, 0, header->dwBufferLength);
}

// The frame on which the selection ends carries the kept image.
static void Finish(VIDEOHDR *header)
{
    memcpy(header->lpData, app.BestFrameBuffer, header->dwBufferLength);
    MessageBeep(SIMPLE_BEEP);
    app.SelectionState = SELECTION_RENDER;
    StopStream();
}

// Whole frames: the brighter window wins; a tie keeps the earlier frame.
static void MeasureFrame(VIDEOHDR *header, DWORD rowLength)
{
    WindowSums sums = SumWindow(header->lpData, rowLength);
    INT score = sums.even + sums.odd;
    if (score > app.bestScore) {
        app.bestScore = score;
        memcpy(app.BestFrameBuffer, header->lpData, header->dwBufferLength);
    }
    if (++app.SelectionState >= SELECTION_WHOLE_FRAME_DONE) Finish(header);
}

// Copies the rows of one parity of the frame (240 or 288) into the rows of
// the pass's parity in BestFrameBuffer.
static void CopyField(const BYTE *frame, DWORD rowLength, UINT fieldRows, int sourceParity, int targetParity)
{
    for (UINT k = 0; k < fieldRows; k++)
        memcpy(app.BestFrameBuffer + (size_t)(2 * k + targetParity) * rowLength,
               frame + (size_t)(2 * k + sourceParity) * rowLength, rowLength);
}

// Fields: a field scores by its margin over the other field of its frame;
// the largest margin of the pass wins, and equal sums never win.
static void MeasureFields(VIDEOHDR *header, DWORD rowLength, UINT height)
{
    UINT fieldRows = height / 2;
    WindowSums sums = SumWindow(header->lpData, rowLength);
    int targetParity = app.SelectionState < SELECTION_FIELD_SECOND_PASS ? 1 : 0;
    if (sums.odd > app.bestScore + sums.even) {
        app.bestScore = sums.odd - sums.even;
        CopyField(header->lpData, rowLength, fieldRows, 1, targetParity);
    } else if (sums.even > app.bestScore + sums.odd) {
        app.bestScore = sums.even - sums.odd;
        CopyField(header->lpData, rowLength, fieldRows, 0, targetParity);
    }
    app.SelectionState++;
    if (app.SelectionState == SELECTION_FIELD_SECOND_PASS) {
        // The second pass reads the other half of the charge at its own
        // level and starts its own contest.
        WriteCameraPort(PORT_READOUT);
        app.bestScore = 0;
    } else if (app.SelectionState >= SELECTION_FIELD_DONE) {
        Finish(header);
    }
}

// Stamps the kept image onto the frame the driver is about to use.
static void Render(VIDEOHDR *header)
{
    memcpy(header->lpData, app.BestFrameBuffer, header->dwBufferLength);
    StopStream();
}

LRESULT CALLBACK ReadoutFrameCallback(HWND window, LPVIDEOHDR header)
{
    UINT height = app.captureStatus.uiImageHeight;
    DWORD rowLength = height ? header->dwBufferLength / height : 0;

    // The driver may deliver again while the stop request is handled; such a
    // nested delivery is ignored whole.
    if (++app.callbackDepth != 0) {
        app.callbackDepth--;
        return 1;
    }
    if (IsUsableFrame(header, rowLength)) {
        BOOL fieldMode = IsFieldModeHeight(height);
        if (app.SelectionState == SELECTION_RENDER)
            Render(header);
        else if (app.SelectionState == SELECTION_ARMED)
            Arm(header, fieldMode);
        else if (fieldMode)
            MeasureFields(header, rowLength, height);
        else
            MeasureFrame(header, rowLength);
    }
    app.callbackDepth--;
    return 1;
}
