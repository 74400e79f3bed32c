// The capture window and the capture drivers: listing every installed
// driver in the Options menu, connecting the one chosen last time at start,
// and switching to another driver with a fall-back to the previous one.
#include <stdio.h>
#include <string.h>

#include "app_state.h"
#include "driver_ids.h"

#define OPTIONS_MENU_POSITION 1
#define DESCRIPTION_SIZE 80
#define VERSION_SIZE 100
#define ENTRY_TEXT_LIMIT 99
#define NO_DRIVER_NAME "<none>"

// Connects the driver at `index` to the capture window, if the window exists.
static BOOL ConnectDriver(int index) { return (BOOL)SendCaptureMessage(WM_CAP_DRIVER_CONNECT, (WORD)index, 0) != 0; }

// The driver's name is its menu entry's text after the first blank, which
// is the description exactly as the driver gave it ("&%d %s").
static void TakeDriverName(HMENU optionsMenu)
{
    char text[ENTRY_TEXT_LIMIT + 1] = "";
    GetMenuStringA(optionsMenu, DriverCommandId(app.driverIndex), text, ENTRY_TEXT_LIMIT, MF_BYCOMMAND);
    const char *blank = strchr(text, ' ');
    const char *name = blank ? blank + 1 : "";
    snprintf(app.settings.driverName, sizeof app.settings.driverName, "%s", name);
}

static HMENU OptionsMenu(HWND mainWindow) { return GetSubMenu(GetMenu(mainWindow), OPTIONS_MENU_POSITION); }

// WM_CREATE of the main window: app.mainWindow is not stored yet, so the
// window comes as a parameter.
void ConnectSavedDriver(HWND mainWindow)
{
    app.captureWindow = capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, 0, 0, 160, 120, mainWindow, 0);
    SendCaptureMessage(WM_CAP_SET_CALLBACK_ERRORA, 0, (LPARAM)CaptureErrorCallback);
    HMENU optionsMenu = OptionsMenu(mainWindow);

    // Every index is tried: every driver that matches the saved name is
    // connected in turn, and the last one to connect stays connected. With
    // "<none>" the first driver that connects is taken; its description then
    // replaces "<none>", so only drivers of that very description follow.
    for (int index = 0; index < MAX_DRIVERS; index++) {
        char description[DESCRIPTION_SIZE] = "";
        char version[VERSION_SIZE] = "";
        if (!capGetDriverDescriptionA(index, description, sizeof description, version, sizeof version)) continue;
        description[sizeof description - 1] = '\0';
        char text[ENTRY_TEXT_LIMIT + 1];
        snprintf(text, sizeof text, "&%d %s", index, description);
        AppendMenuA(optionsMenu, MF_STRING, DriverCommandId(index), text);

        BOOL anyDriver = strcmp(app.settings.driverName, NO_DRIVER_NAME) == 0;
        if (!anyDriver && strcmp(description, app.settings.driverName) != 0) continue;
        if (!ConnectDriver(index)) continue;
        CheckMenuItem(GetMenu(mainWindow), DriverCommandId(index), MF_BYCOMMAND | MF_CHECKED);
        app.driverIndex = index;
        TakeDriverName(optionsMenu);
    }
    DrawMenuBar(mainWindow);
    PlaceCaptureWindow(mainWindow, app.captureWindow);
    ConfigureDevice(mainWindow, app.captureWindow, (WORD)app.driverIndex);
}

// A driver command. Returns 0, or -1 when neither the chosen driver nor the
// one connected before could be connected.
LRESULT SwitchDriver(HWND mainWindow, WPARAM commandId)
{
    int newIndex = DriverIndexFromCommand(commandId);
    if (newIndex < 0) return 0;  // not a driver entry
    if (newIndex == app.driverIndex) return 0;

    HMENU menu = GetMenu(mainWindow);
    HMENU optionsMenu = OptionsMenu(mainWindow);
    SendCaptureMessage(WM_CAP_SET_PREVIEW, 0, 0);
    SendCaptureMessage(WM_CAP_SET_OVERLAY, 0, 0);
    CheckMenuItem(menu, DriverCommandId(app.driverIndex), MF_BYCOMMAND | MF_UNCHECKED);
    ResetSequenceSetup();

    if (IsWindow(app.captureWindow) && ConnectDriver(newIndex)) {
        CheckMenuItem(menu, DriverCommandId(newIndex), MF_BYCOMMAND | MF_CHECKED);
        app.driverIndex = newIndex;
        ConfigureDevice(mainWindow, app.captureWindow, (WORD)newIndex);
        PlaceCaptureWindow(mainWindow, app.captureWindow);
        TakeDriverName(optionsMenu);
        return 0;
    }

    // The chosen driver's failure is silent; only a failed fall-back is told.
    if (app.driverIndex < 0) return 0;
    if (IsWindow(app.captureWindow) && ConnectDriver(app.driverIndex)) {
        ConfigureDevice(mainWindow, app.captureWindow, (WORD)app.driverIndex);
        PlaceCaptureWindow(mainWindow, app.captureWindow);
        TakeDriverName(optionsMenu);
        return 0;
    }
    // Neither connects: no driver is connected now, so every entry of the
    // list, the previous driver's included, connects its driver when chosen,
    // and none is shown checked (start-up may have checked several entries
    // of drivers sharing the saved description).
    app.driverIndex = -1;
    for (int index = 0; index < MAX_DRIVERS; index++)
        CheckMenuItem(menu, DriverCommandId(index), MF_BYCOMMAND | MF_UNCHECKED);
    MessageBoxA(mainWindow, "Now can't connect back to previous driver !!", "Error", MB_ICONHAND);
    return -1;
}
