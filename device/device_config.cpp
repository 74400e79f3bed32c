// Adapting the program to the connected driver: its capabilities, the
// sequence parameters of the readout, the window sizes and the live view.
#include <stdio.h>

#include "app_state.h"
#include "camera/exposure_levels.h"
#include "driver_ids.h"

// The driver's parameters as they were before the program set them up.
#define RESET_USEC_PER_FRAME 200000

#define PREVIEW_RATE_MS 40
// The capture window's place in the main window's client area.
#define CAPTURE_LEFT 5
#define CAPTURE_TOP 30
// The main window's frame, menu and toolbar around the video.
#define MAIN_EXTRA_WIDTH 20
#define MAIN_EXTRA_HEIGHT 90

LRESULT SendCaptureMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!IsWindow(app.captureWindow)) return 0;
    return SendMessageA(app.captureWindow, message, wParam, lParam);
}

LRESULT CALLBACK CaptureErrorCallback(HWND window, int id, LPCSTR text)
{
    if (id == 0 || text == NULL)
        app.captureErrorText[0] = '\0';
    else
        snprintf(app.captureErrorText, sizeof app.captureErrorText, "%s", text);
    return 1;
}

void RefreshDeviceInfo(void)
{
    SendCaptureMessage(WM_CAP_DRIVER_GET_CAPS, sizeof(CAPDRIVERCAPS), (LPARAM)&app.driverCaps);
    SendCaptureMessage(WM_CAP_GET_STATUS, sizeof(CAPSTATUS), (LPARAM)&app.captureStatus);
}

void PlaceCaptureWindow(HWND mainWindow, HWND captureWindow)
{
    RECT mainRect = {0, 0, 0, 0};
    RECT captureRect = {0, 0, 0, 0};
    GetClientRect(mainWindow, &mainRect);
    GetClientRect(captureWindow, &captureRect);
    MoveWindow(captureWindow, (WORD)(mainRect.left + CAPTURE_LEFT), (WORD)(mainRect.top + CAPTURE_TOP),
               captureRect.right - captureRect.left, captureRect.bottom - captureRect.top, TRUE);
}

// Sizes a window without moving it or changing its place among its siblings.
static void SizeWindow(HWND window, UINT width, UINT height)
{
    SetWindowPos(window, NULL, 0, 0, (int)width, (int)height, SWP_NOMOVE | SWP_NOZORDER);
}

static void EnableByFlag(HMENU menu, UINT id, BOOL flag)
{
    EnableMenuItem(menu, id, MF_BYCOMMAND | (flag ? MF_ENABLED : MF_GRAYED));
}

static void CheckByFlag(HMENU menu, UINT id, BOOL flag)
{
    CheckMenuItem(menu, id, MF_BYCOMMAND | (flag ? MF_CHECKED : MF_UNCHECKED));
}

void ConfigureDevice(HWND mainWindow, HWND captureWindow, WORD index)
{
    if (index > MAX_DRIVERS) return;  // no driver: -1 arrives as 65535
    HMENU menu = GetMenu(mainWindow);
    RefreshDeviceInfo();
    EnableByFlag(menu, IDM_OVERLAY, app.driverCaps.fHasOverlay);
    EnableByFlag(menu, IDM_VIDEOFORMAT, app.driverCaps.fHasDlgVideoFormat);
    EnableByFlag(menu, IDM_VIDEOSOURCE, app.driverCaps.fHasDlgVideoSource);

    SendCaptureMessage(WM_CAP_GET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&app.captureParms);
    // Every readout as the camera's protocol streams it: about 30 frames a
    // second, no audio, and a stream that ends by itself after two seconds.
    app.captureParms.dwRequestMicroSecPerFrame = noctil::camera::READOUT_FRAME_MICROS;
    app.captureParms.fCaptureAudio = FALSE;
    app.captureParms.fLimitEnabled = TRUE;
    app.captureParms.wTimeLimit = noctil::camera::READOUT_TIME_LIMIT_S;
    SendCaptureMessage(WM_CAP_SET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&app.captureParms);

    SendCaptureMessage(WM_CAP_GET_STATUS, sizeof(CAPSTATUS), (LPARAM)&app.captureStatus);
    UINT width = app.captureStatus.uiImageWidth;
    UINT height = app.captureStatus.uiImageHeight;
    SizeWindow(captureWindow, width, height);
    SizeWindow(mainWindow, width + MAIN_EXTRA_WIDTH, height + MAIN_EXTRA_HEIGHT);

    SendCaptureMessage(WM_CAP_SET_PREVIEWRATE, PREVIEW_RATE_MS, 0);
    if (app.settings.previewMode == VIEW_PREVIEW)
        SendCaptureMessage(WM_CAP_SET_PREVIEW, 1, 0);
    else if (app.settings.previewMode == VIEW_OVERLAY)
        SendCaptureMessage(WM_CAP_SET_OVERLAY, 1, 0);

    CheckByFlag(menu, DriverCommandId(index), TRUE);
    CheckByFlag(menu, IDM_AUTOINCREMENT, app.settings.autoIncrement != 0);
}

// Before another driver is connected and when the program ends. The copy
// in AppState changes even when there is no capture window to tell.
void ResetSequenceSetup(void)
{
    SendCaptureMessage(WM_CAP_GET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&app.captureParms);
    app.captureParms.dwRequestMicroSecPerFrame = RESET_USEC_PER_FRAME;
    app.captureParms.fCaptureAudio = TRUE;
    app.captureParms.fLimitEnabled = FALSE;
    SendCaptureMessage(WM_CAP_SET_SEQUENCE_SETUP, sizeof(CAPTUREPARMS), (LPARAM)&app.captureParms);
}
