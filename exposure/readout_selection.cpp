// Choosing the readout frame. The capture driver calls ReadoutFrameCallback
// for every streamed frame; the camera's protocol (camera/readout_selection.h)
// scores it over the selection's state in AppState (SelectionState, bestScore,
// BestFrameBuffer): after an exposure it switches the camera to readout on
// the first frame, keeps the best frame, or on interlaced video of 480 or 576
// lines the best field of each of two passes, and in the render state stamps
// the kept image onto every frame the driver delivers. Here its requests are
// carried out: the port write, the beep when the image is chosen and the stop,
// an abort when a field did not arrive and the readout has no image.
//
// Frames arrive at video rate, so nothing here allocates.
#include "app_state.h"
#include "camera/readout_selection.h"

#define SIMPLE_BEEP 0xFFFFFFFF

// A readout without an image is aborted rather than stopped, so the capture
// window does not take its frames for a chosen image.
static void StopStream(BOOL dropped)
{
    if (IsWindow(app.captureWindow)) SendMessageA(app.captureWindow, dropped ? WM_CAP_ABORT : WM_CAP_STOP, 0, 0);
}

// The camera's protocol takes the frame over the selection's state in
// AppState; what it asks for is written, beeped and stopped here.
static void TakeFrame(VIDEOHDR *header)
{
    noctil::camera::Selection selection = {app.SelectionState, app.bestScore, app.BestFrameBuffer};
    std::span<BYTE> frame;
    if (header->lpData != NULL) frame = std::span<BYTE>(header->lpData, header->dwBufferLength);
    noctil::camera::FrameStep step = noctil::camera::takeFrame(selection, frame, app.captureStatus.uiImageHeight);
    if (step.level != noctil::camera::NO_LEVEL) WriteCameraPort((BYTE)step.level);
    if (step.chosen) MessageBeep(SIMPLE_BEEP);
    if (step.stop) StopStream(step.dropped);
}

LRESULT CALLBACK ReadoutFrameCallback(HWND window, LPVIDEOHDR header)
{
    // The driver may deliver again while the stop request is handled; such a
    // nested delivery is ignored whole.
    if (++app.callbackDepth != 0) {
        app.callbackDepth--;
        return 1;
    }
    TakeFrame(header);
    app.callbackDepth--;
    return 1;
}
