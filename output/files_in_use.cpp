// A file another program is writing is never recorded into: a second Noctil
// on the same drives would otherwise set the first one's file aside and
// delete it at its own first image, the first night's images with it, while
// the first went on writing into a file that no longer has a name. The
// image log beside the file is asked about too: Record would replace it.
//
// The restart manager names the process using a file. Windows itself
// refuses to move or delete a file another has open for writing; asking
// first lets the box say who has it, before any question about replacing it.
#include <windows.h>

#include <restartmanager.h>
#include <stdio.h>
#include <string.h>

#include "app_state.h"

// Room for the users of one file: more than one is told as the first.
#define USERS_ASKED 4

// Whether an extension is ".log" in any case.
static BOOL IsLogExtension(const char *dot)
{
    const char *log = ".log";
    for (; *log != '\0'; dot++, log++)
        if (*dot != *log && *dot != *log - 'a' + 'A') return FALSE;
    return *dot == '\0';
}

// The image log that is kept beside `name`: its extension replaced by .LOG
// (.log when the extension is in small letters), or .LOG added to a name
// that ends in .log itself.
static void ImageLogName(const char *name, char *log, size_t size)
{
    const char *filePart = name;
    for (const char *c = name; *c != '\0'; c++)
        if (*c == '\\' || *c == '/' || *c == ':') filePart = c + 1;
    const char *dot = strrchr(filePart, '.');
    if (dot == filePart) dot = NULL;  // ".avi" is a name without an extension
    BOOL capitals = dot != NULL && dot[1] >= 'A' && dot[1] <= 'Z';
    const char *suffix = capitals ? ".LOG" : ".log";
    if (dot == NULL || IsLogExtension(dot)) {
        snprintf(log, size, "%s%s", name, suffix);
        return;
    }
    snprintf(log, size, "%.*s%s", (int)(dot - name), name, suffix);
}

// Who uses `name` as the restart manager knows: "noctil (process 1234)"
// into `user`. FALSE when nobody does, or the system cannot say.
static BOOL UserOfFile(const char *name, char *user, size_t size)
{
    WCHAR wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, MAX_PATH) == 0) return FALSE;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1];
    if (RmStartSession(&session, 0, key) != ERROR_SUCCESS) return FALSE;
    LPCWSTR files[1] = {wide};
    RM_PROCESS_INFO users[USERS_ASKED];
    UINT needed = 0, count = USERS_ASKED;
    DWORD reasons = 0, listed = ERROR_INVALID_PARAMETER;
    if (RmRegisterResources(session, 1, files, 0, NULL, 0, NULL) == ERROR_SUCCESS)
        listed = RmGetList(session, &needed, &count, users, &reasons);
    RmEndSession(session);
    if (listed == ERROR_MORE_DATA) {
        snprintf(user, size, "%u programs", needed);
        return TRUE;
    }
    if (listed != ERROR_SUCCESS || count == 0) return FALSE;
    char app[CCH_RM_MAX_APP_NAME + 1];
    if (WideCharToMultiByte(CP_ACP, 0, users[0].strAppName, -1, app, sizeof app, NULL, NULL) == 0 || app[0] == '\0')
        snprintf(app, sizeof app, "another program");
    snprintf(user, size, "%s (process %lu)", app, (unsigned long)users[0].Process.dwProcessId);
    return TRUE;
}

BOOL FilesFreeToRecord(const char *name)
{
    char user[CCH_RM_MAX_APP_NAME + 32];
    char what[FAILURE_TEXT_SIZE + MAX_PATH];
    if (UserOfFile(name, user, sizeof user)) {
        snprintf(what, sizeof what,
                 "Can't record into %s: %s is writing it.\nNo run has started; the file is as it was.", name, user);
        ShowFailure(what, ERROR_SUCCESS);
        return FALSE;
    }
    char log[MAX_PATH + 8];
    ImageLogName(name, log, sizeof log);
    if (UserOfFile(log, user, sizeof user)) {
        snprintf(what, sizeof what,
                 "Can't record into %s: %s is writing its image log %s.\nNo run has started; both files are as they "
                 "were.",
                 name, user, log);
        ShowFailure(what, ERROR_SUCCESS);
        return FALSE;
    }
    return TRUE;
}
