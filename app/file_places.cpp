// Where the program's own files go. Noctil.ini lives in the Windows
// directory, and the default image file and the capture's temporary files
// in the root of C:, but a standard user may write neither. Where they take
// no files, the user's own application data, documents and temporary folder
// do. A name the user chose is used as it is, and fails as it fails.
#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "app_state.h"

#include <shlobj.h>

#define PLACES_TEXT_SIZE (3 * MAX_PATH + 256)

// TRUE when a file of that name can be written. A file made to find out
// goes again at once; one that was there is left as it was.
static BOOL CanWriteFile(const char *name)
{
    BOOL existed = GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
    FILE *file = fopen(name, "ab");
    if (file == NULL) return FALSE;
    fclose(file);
    if (!existed) remove(name);
    return TRUE;
}

// "<folder>\<name>" into `out`; FALSE when it does not fit.
static BOOL JoinName(char *out, size_t size, const char *folder, const char *name)
{
    size_t length = strlen(folder);
    const char *separator = (length > 0 && folder[length - 1] == '\\') ? "" : "\\";
    int written = snprintf(out, size, "%s%s%s", folder, separator, name);
    return written > 0 && (size_t)written < size;
}

// `name` in the user's folder of that kind (CSIDL_APPDATA, CSIDL_PERSONAL);
// the folder is made when `create` asks for it. FALSE without such a folder.
static BOOL InUserFolder(int folder, BOOL create, const char *name, char *out, size_t size)
{
    char path[MAX_PATH];
    if (SHGetFolderPathA(NULL, folder | (create ? CSIDL_FLAG_CREATE : 0), NULL, SHGFP_TYPE_CURRENT, path) != S_OK)
        return FALSE;
    return JoinName(out, size, path, name);
}

static BOOL InTempFolder(const char *name, char *out, size_t size)
{
    char path[MAX_PATH];
    DWORD length = GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path) return FALSE;
    return JoinName(out, size, path, name);
}

static BOOL SameNameIgnoringCase(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; a++, b++)
        if (tolower((unsigned char)*a) != tolower((unsigned char)*b)) return FALSE;
    return *a == *b;
}

// The user's own copy of Noctil.ini is read and written where there is one.
// Otherwise the Windows directory's copy is read; it is written where it
// can be, else the user's copy is, which the next start then reads.
static void ChooseSettingsFiles(void)
{
    char userCopy[MAX_PATH];
    if (InUserFolder(CSIDL_APPDATA, FALSE, SETTINGS_NAME, userCopy, sizeof userCopy) &&
        GetFileAttributesA(userCopy) != INVALID_FILE_ATTRIBUTES) {
        snprintf(app.settingsFile, sizeof app.settingsFile, "%s", userCopy);
        snprintf(app.settingsSaveFile, sizeof app.settingsSaveFile, "%s", userCopy);
        return;
    }
    char windowsFolder[MAX_PATH], sharedCopy[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windowsFolder, sizeof windowsFolder);
    if (length == 0 || length >= sizeof windowsFolder) return;
    if (!JoinName(sharedCopy, sizeof sharedCopy, windowsFolder, SETTINGS_NAME) || CanWriteFile(sharedCopy)) return;
    if (InUserFolder(CSIDL_APPDATA, TRUE, SETTINGS_NAME, userCopy, sizeof userCopy))
        snprintf(app.settingsSaveFile, sizeof app.settingsSaveFile, "%s", userCopy);
}

// The capture's temporary files: in the root of C: where it takes them (as
// InitAppState names them), else in the user's temporary folder (and where
// there is none, in the root, to fail there as they would).
static void ChooseCaptureFiles(void)
{
    if (CanWriteFile(app.captureFile)) return;
    char one[MAX_PATH], two[MAX_PATH];
    if (!InTempFolder(CAPTURE_NAME, one, sizeof one) || !InTempFolder(CAPTURE_COPY_NAME, two, sizeof two)) return;
    snprintf(app.captureFile, sizeof app.captureFile, "%s", one);
    snprintf(app.captureCopyFile, sizeof app.captureCopyFile, "%s", two);
    app.rootRefusesFiles = 1;
}

void ChooseFilePlaces(void)
{
    ChooseSettingsFiles();
    ChooseCaptureFiles();
}

// Says where the files go instead of the root of C:, once a run of the
// program, before the first Record writes anything.
static void TellUserFolders(BOOL imageMoved)
{
    if (app.userFoldersTold) return;
    app.userFoldersTold = 1;
    char text[PLACES_TEXT_SIZE];
    const char *tempName = strrchr(app.captureFile, '\\');
    int tempFolder = tempName != NULL ? (int)(tempName - app.captureFile + 1) : 0;
    if (imageMoved)
        snprintf(text, sizeof text,
                 "C:\\ does not take files for this user, so the images go to\n%s\nand the capture's temporary files "
                 "to %.*s.\n\nSave Images In chooses another file; a name chosen there is used as it is.",
                 app.settings.imageFile, tempFolder, app.captureFile);
    else
        snprintf(text, sizeof text, "C:\\ does not take files for this user, so the capture's temporary files go to %.*s.",
                 tempFolder, app.captureFile);
    MessageBoxA(app.mainWindow, text, "Record", MB_OK | MB_ICONINFORMATION);
}

void UseUserFoldersForRecord(void)
{
    if (!app.rootRefusesFiles) return;
    BOOL imageMoved = FALSE;
    char moved[MAX_PATH];
    if (SameNameIgnoringCase(app.settings.imageFile, DEFAULT_IMAGE_FILE) &&
        (InUserFolder(CSIDL_PERSONAL, TRUE, IMAGE_NAME, moved, sizeof moved) ||
         InTempFolder(IMAGE_NAME, moved, sizeof moved))) {
        snprintf(app.settings.imageFile, sizeof app.settings.imageFile, "%s", moved);
        imageMoved = TRUE;
    }
    TellUserFolders(imageMoved);
}
