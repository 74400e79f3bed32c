// The toolbar of the main window: Record, Stop, Pause and Setup, each
// sending the command of the menu item of that name.
#include <windows.h>
#include <commctrl.h>

#include "app_state.h"

#define TOOLBAR_BUTTONS 4

// Button strings double as tooltips; each is a list of one string, so it
// ends with two zero bytes (the literal adds the second).
static const char *const buttonStrings[TOOLBAR_BUTTONS] = {"Record\0", "Stop\0", "Pause\0", "Setup\0"};
static const int buttonCommands[TOOLBAR_BUTTONS] = {IDM_RECORD, IDM_STOP, IDM_PAUSE, IDM_SETUP};

// Creates, fills and shows the toolbar; strings before the bitmap, the
// bitmap before the buttons, and shown only once filled and sized.
HWND CreateToolbar(HWND parent)
{
    INITCOMMONCONTROLSEX init = {sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&init);

    HWND toolbar = CreateWindowExA(0, TOOLBARCLASSNAMEA, NULL, WS_CHILD | CCS_ADJUSTABLE | TBSTYLE_TOOLTIPS, 0, 0, 0, 0,
                                   parent, (HMENU)(UINT_PTR)IDC_TOOLBAR, app.instanceHandle, NULL);
    app.toolbarWindow = toolbar;
    SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);

    INT_PTR stringIndex[TOOLBAR_BUTTONS];
    for (int i = 0; i < TOOLBAR_BUTTONS; i++)
        stringIndex[i] = SendMessageA(toolbar, TB_ADDSTRINGA, 0, (LPARAM)buttonStrings[i]);
    SendMessageA(toolbar, TB_SETMAXTEXTROWS, 0, 0);  // no text on the buttons

    TBADDBITMAP bitmap = {app.instanceHandle, IDB_TOOLBAR};
    SendMessageA(toolbar, TB_ADDBITMAP, TOOLBAR_BUTTONS, (LPARAM)&bitmap);

    TBBUTTON buttons[TOOLBAR_BUTTONS] = {};
    for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
        buttons[i].iBitmap = i;
        buttons[i].idCommand = buttonCommands[i];
        buttons[i].fsState = TBSTATE_ENABLED;
        buttons[i].fsStyle = TBSTYLE_BUTTON;
        buttons[i].dwData = 0;
        buttons[i].iString = stringIndex[i];
    }
    SendMessageA(toolbar, TB_ADDBUTTONSA, TOOLBAR_BUTTONS, (LPARAM)buttons);
    SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
    ShowWindow(toolbar, SW_SHOW);
    return toolbar;
}
