#include "app_state.h"

#include <stdio.h>
#include <string.h>

AppState app;

void InitAppState(void)
{
    // The state record is large (it holds the best-frame buffer), so it is
    // cleared in place rather than assigned from a temporary.
    memset(&app, 0, sizeof app);
    app.driverIndex = -1;
    app.SelectionState = SELECTION_ARMED;
    app.bestScore = 0;
    app.callbackDepth = -1;
    app.sampleIndex = -1;
    snprintf(app.settingsFile, sizeof app.settingsFile, "%s", SETTINGS_NAME);
    snprintf(app.settingsSaveFile, sizeof app.settingsSaveFile, "%s", SETTINGS_NAME);
    snprintf(app.captureFile, sizeof app.captureFile, "%s", DRIVE_ROOT CAPTURE_NAME);
    snprintf(app.captureCopyFile, sizeof app.captureCopyFile, "%s", DRIVE_ROOT CAPTURE_COPY_NAME);
}
