// The capture-state indication: the Capture menu, the toolbar and an open
// Setup dialog's Start Capture button follow the run.
#include <windows.h>
#include <commctrl.h>

#include "app_state.h"

// Position of the Capture pop-up in the main menu.
#define CAPTURE_MENU_POSITION 2

// Enables or grays one command on the menu, then on the toolbar.
static void EnableCommand(HMENU captureMenu, UINT command, BOOL enable)
{
    EnableMenuItem(captureMenu, command, enable ? MF_ENABLED : MF_GRAYED);
    SendMessageA(app.toolbarWindow, TB_ENABLEBUTTON, command, enable);
}

// Start Capture in an open Setup dialog is usable exactly while no run is on.
static void UpdateStartCapture(void)
{
    if (app.setupDialog != NULL) EnableWindow(GetDlgItem(app.setupDialog, IDC_STARTCAPTURE), app.recording == 0);
}

// Record and Stop for a run starting or ending; Pause for the paused flag.
// Pause and Setup are never disabled, and only CAPSTATE_PAUSE touches the
// Pause indication, so it outlasts Stop and Record.
void SetCaptureState(INT state)
{
    HMENU captureMenu = GetSubMenu(GetMenu(app.mainWindow), CAPTURE_MENU_POSITION);
    switch (state) {
    case CAPSTATE_IDLE:
        app.recording = 0;
        EnableCommand(captureMenu, IDM_STOP, FALSE);
        EnableCommand(captureMenu, IDM_RECORD, TRUE);
        UpdateStartCapture();
        break;
    case CAPSTATE_RECORDING:
        app.recording = 1;
        EnableCommand(captureMenu, IDM_STOP, TRUE);
        EnableCommand(captureMenu, IDM_RECORD, FALSE);
        UpdateStartCapture();
        break;
    case CAPSTATE_PAUSE:
        CheckMenuItem(captureMenu, IDM_PAUSE, app.paused ? MF_CHECKED : MF_UNCHECKED);
        SendMessageA(app.toolbarWindow, TB_CHECKBUTTON, IDM_PAUSE, app.paused ? TRUE : FALSE);
        break;
    default: break;  // not a state: nothing changes
    }
}
