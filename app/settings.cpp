// The persistent settings: Noctil.ini in the Windows directory, read once
// before any window exists and written once after the message loop ends.
#include <stdio.h>

#include "app_state.h"

// Named without a directory, so the profile functions keep it in the
// Windows directory.
static const char settingsFile[] = "Noctil.ini";

// Every value is taken as the file holds it: nothing is validated or
// clamped here, and a missing file, section or key gives its default.
void LoadSettings(void)
{
    CaptureSettings *s = &app.settings;
    GetPrivateProfileStringA("Filenames", "ImageFile", "C:\\Images.AVI", s->imageFile, sizeof s->imageFile,
                             settingsFile);
    s->autoIncrement = (INT)GetPrivateProfileIntA("Flags", "AutoIncrement", 0, settingsFile);
    s->ampOff = (INT)GetPrivateProfileIntA("Flags", "AmpOff", 0, settingsFile);
    s->exposureMs = (INT)GetPrivateProfileIntA("Capture", "Exposure", 2000, settingsFile);
    s->delayMs = (INT)GetPrivateProfileIntA("Capture", "Delay", 0, settingsFile);
    s->frameCount = (INT)GetPrivateProfileIntA("Capture", "Count", 0, settingsFile);
    GetPrivateProfileStringA("Driver", "Name", "<none>", s->driverName, sizeof s->driverName, settingsFile);
    s->previewMode = (INT)GetPrivateProfileIntA("Driver", "PreviewMode", VIEW_NONE, settingsFile);
}

// All eight keys every time, in file order, so a new file comes out with
// its sections and keys in that order. A failed write loses this run's
// values and nothing else.
void SaveSettings(void)
{
    const CaptureSettings *s = &app.settings;
    WritePrivateProfileStringA("Filenames", "ImageFile", s->imageFile, settingsFile);
    WriteIntSetting("Flags", "AutoIncrement", s->autoIncrement, settingsFile);
    WriteIntSetting("Flags", "AmpOff", s->ampOff, settingsFile);
    WriteIntSetting("Capture", "Exposure", s->exposureMs, settingsFile);
    WriteIntSetting("Capture", "Delay", s->delayMs, settingsFile);
    WriteIntSetting("Capture", "Count", s->frameCount, settingsFile);
    WritePrivateProfileStringA("Driver", "Name", s->driverName, settingsFile);
    WriteIntSetting("Driver", "PreviewMode", s->previewMode, settingsFile);
}

void WriteIntSetting(LPCSTR section, LPCSTR key, INT value, LPCSTR file)
{
    char text[12];  // "-2147483648" and its terminator
    snprintf(text, sizeof text, "%d", value);
    WritePrivateProfileStringA(section, key, text, file);
}
