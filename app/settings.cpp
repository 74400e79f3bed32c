// The persistent settings: Noctil.ini in the Windows directory (or the
// user's own copy, app/file_places.cpp), read once before any window exists
// and written once after the message loop ends.
#include <stdio.h>

#include "app_state.h"

// Every value is taken as the file holds it: nothing is validated or
// clamped here, and a missing file, section or key gives its default.
void LoadSettings(void)
{
    CaptureSettings *s = &app.settings;
    GetPrivateProfileStringA("Filenames", "ImageFile", DEFAULT_IMAGE_FILE, s->imageFile, sizeof s->imageFile,
                             app.settingsFile);
    s->autoIncrement = (INT)GetPrivateProfileIntA("Flags", "AutoIncrement", 0, app.settingsFile);
    s->ampOff = (INT)GetPrivateProfileIntA("Flags", "AmpOff", 0, app.settingsFile);
    s->exposureMs = (INT)GetPrivateProfileIntA("Capture", "Exposure", 2000, app.settingsFile);
    s->delayMs = (INT)GetPrivateProfileIntA("Capture", "Delay", 0, app.settingsFile);
    s->frameCount = (INT)GetPrivateProfileIntA("Capture", "Count", 0, app.settingsFile);
    GetPrivateProfileStringA("Driver", "Name", "<none>", s->driverName, sizeof s->driverName, app.settingsFile);
    s->previewMode = (INT)GetPrivateProfileIntA("Driver", "PreviewMode", VIEW_NONE, app.settingsFile);
}

// All eight keys every time, in file order, so a new file comes out with
// its sections and keys in that order. A failed write loses this run's
// values and nothing else.
void SaveSettings(void)
{
    const CaptureSettings *s = &app.settings;
    WritePrivateProfileStringA("Filenames", "ImageFile", s->imageFile, app.settingsSaveFile);
    WriteIntSetting("Flags", "AutoIncrement", s->autoIncrement, app.settingsSaveFile);
    WriteIntSetting("Flags", "AmpOff", s->ampOff, app.settingsSaveFile);
    WriteIntSetting("Capture", "Exposure", s->exposureMs, app.settingsSaveFile);
    WriteIntSetting("Capture", "Delay", s->delayMs, app.settingsSaveFile);
    WriteIntSetting("Capture", "Count", s->frameCount, app.settingsSaveFile);
    WritePrivateProfileStringA("Driver", "Name", s->driverName, app.settingsSaveFile);
    WriteIntSetting("Driver", "PreviewMode", s->previewMode, app.settingsSaveFile);
}

void WriteIntSetting(LPCSTR section, LPCSTR key, INT value, LPCSTR file)
{
    char text[12];  // "-2147483648" and its terminator
    snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(section, key, text, file);
}
