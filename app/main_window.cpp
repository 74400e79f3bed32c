// The main window procedure: the one place where every command of the menu,
// the accelerators, the toolbar and the Setup dialog, and every timer of the
// exposure cycle, is handed to the code that owns it.
#include "app_state.h"
#include "driver_ids.h"

// WM_CREATE: the capture window, the driver entries and the saved driver.
static LRESULT OnCreate(HWND window)
{
    ConnectSavedDriver(window);
    return 0;
}

// WM_CLOSE: the capture window goes first, then the main window.
static LRESULT OnClose(HWND window)
{
    DestroyWindow(app.captureWindow);
    DestroyWindow(window);
    return 0;
}

// WM_DESTROY: reset the driver's sequence, rest the camera, finish an output
// file that a run still holds, and end the loop.
static LRESULT OnDestroy(void)
{
    ResetSequenceSetup();
    WriteCameraPort(PORT_IDLE);
    FinishOutputOnExit();
    PostQuitMessage(0);
    return 0;
}

// WM_PAINT: the window draws nothing itself; its children cover it.
static LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

// WM_TIMER: the exposure cycle's timers; any other id is ignored.
static LRESULT OnTimer(WPARAM timerId)
{
    HandleExposureTimer(timerId);
    return 0;
}

// WM_POWERBROADCAST: after a suspension (or a stop of the process) an
// interrupted exposure starts again; TRUE grants every request.
static LRESULT OnPowerBroadcast(WPARAM event)
{
    if (event == PBT_APMRESUMEAUTOMATIC) RestartInterruptedExposure();
    return TRUE;
}

// WM_INITMENU: refresh the Preview and Overlay check marks, then the default.
static LRESULT OnInitMenu(HWND window, WPARAM wParam, LPARAM lParam)
{
    UpdateViewCheckMarks((HMENU)wParam);
    return DefWindowProcA(window, WM_INITMENU, wParam, lParam);
}

// IDM_ABOUT: the modal About box.
static LRESULT OnAbout(HWND window)
{
    DialogBoxParamA(app.instanceHandle, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, AboutDlgProc, 0);
    return 0;
}

// IDM_SETUP: the modal Setup Capture dialog.
static LRESULT OnSetup(HWND window)
{
    DialogBoxParamA(app.instanceHandle, MAKEINTRESOURCEA(IDD_SETUP), window, SetupDlgProc, 0);
    return 0;
}

// IDM_EXIT: destroying the main window ends the program.
static LRESULT OnExit(void)
{
    DestroyWindow(app.mainWindow);
    return 0;
}

// IDM_AUTOINCREMENT: toggle numbering of the output file and its check mark.
static LRESULT OnAutoIncrement(void)
{
    app.settings.autoIncrement = app.settings.autoIncrement ? 0 : 1;
    CheckMenuItem(GetMenu(app.mainWindow), IDM_AUTOINCREMENT, app.settings.autoIncrement ? MF_CHECKED : MF_UNCHECKED);
    return 0;
}

// Driver entries, by the whole wParam: a plain menu command, never one with
// the accelerator flag. The connected driver's entry does nothing.
static LRESULT OnDriverCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (DriverIndexFromCommand(wParam) < 0) return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
    if (wParam == DriverCommandId(app.driverIndex)) return 0;
    return SwitchDriver(window, wParam);
}

// WM_COMMAND: named commands by the low word (accelerators set the high
// word to 1), then the driver entries by the whole wParam.
static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDM_SAVEIMAGESIN: return SaveImagesIn();
    case IDM_RECORD: StartRecording(); return 0;
    case IDM_ABOUT: return OnAbout(window);
    case IDM_EXIT: return OnExit();
    case IDM_PREVIEW: TogglePreview(); return 0;
    case IDM_VIDEOSOURCE: ShowVideoSourceDialog(); return 0;
    case IDM_VIDEOFORMAT: ShowVideoFormatDialog(); return 0;
    case IDM_STOP: StopRecording(); return 0;
    case IDM_AUTOINCREMENT: return OnAutoIncrement();
    case IDM_SETUP: return OnSetup(window);
    case IDM_OVERLAY: ToggleOverlay(); return 0;
    case IDM_PAUSE: TogglePause(); return 0;
    }
    return OnDriverCommand(window, wParam, lParam);
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_CLOSE: return OnClose(window);
    case WM_DESTROY: return OnDestroy();
    case WM_PAINT: return OnPaint(window);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_TIMER: return OnTimer(wParam);
    case WM_POWERBROADCAST: return OnPowerBroadcast(wParam);
    case WM_INITMENU: return OnInitMenu(window, wParam, lParam);
    case WM_RUNFAILURE: return ShowRunFailure(wParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
