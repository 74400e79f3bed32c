// The view and device commands of the Options menu, and the Preview and
// Overlay check marks, which always show what the driver is doing.
#include "app_state.h"

static void ReadStatus(void) { SendCaptureMessage(WM_CAP_GET_STATUS, sizeof(CAPSTATUS), (LPARAM)&app.captureStatus); }

// Preview: flips the live preview. previewMode records the outcome the
// driver reports, not the request.
void TogglePreview(void)
{
    ReadStatus();
    SendCaptureMessage(WM_CAP_SET_PREVIEW, app.captureStatus.fLiveWindow ? 0 : 1, 0);
    ReadStatus();
    app.settings.previewMode = app.captureStatus.fLiveWindow ? VIEW_PREVIEW : VIEW_NONE;
}

// Overlay: the same with the overlay; turning it off means no view at all,
// whatever the preview does.
void ToggleOverlay(void)
{
    ReadStatus();
    SendCaptureMessage(WM_CAP_SET_OVERLAY, app.captureStatus.fOverlayWindow ? 0 : 1, 0);
    ReadStatus();
    app.settings.previewMode = app.captureStatus.fOverlayWindow ? VIEW_OVERLAY : VIEW_NONE;
}

void ShowVideoSourceDialog(void)
{
    if (app.driverCaps.fHasDlgVideoSource && IsWindow(app.captureWindow))
        SendCaptureMessage(WM_CAP_DLG_VIDEOSOURCE, 0, 0);
    RefreshDeviceInfo();
}

// A confirmed format change resizes the capture window; the main window
// keeps its size until the next driver connection.
void ShowVideoFormatDialog(void)
{
    if (app.driverCaps.fHasDlgVideoFormat && IsWindow(app.captureWindow) &&
        SendCaptureMessage(WM_CAP_DLG_VIDEOFORMAT, 0, 0)) {
        ReadStatus();
        SetWindowPos(app.captureWindow, NULL, 0, 0, (int)app.captureStatus.uiImageWidth,
                     (int)app.captureStatus.uiImageHeight, SWP_NOMOVE | SWP_NOZORDER);
        PlaceCaptureWindow(app.mainWindow, app.captureWindow);
    }
    RefreshDeviceInfo();
}

// WM_INITMENU: the check marks follow the driver's status.
void UpdateViewCheckMarks(HMENU menu)
{
    ReadStatus();
    CheckMenuItem(menu, IDM_PREVIEW, MF_BYCOMMAND | (app.captureStatus.fLiveWindow ? MF_CHECKED : MF_UNCHECKED));
    CheckMenuItem(menu, IDM_OVERLAY, MF_BYCOMMAND | (app.captureStatus.fOverlayWindow ? MF_CHECKED : MF_UNCHECKED));
}
