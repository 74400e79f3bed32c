// Failures the user is told of, in message boxes titled "Error" with an OK
// button and no owner window. The first line says what failed; the system's
// reason, when it gave one, follows on a second line so the user can act.
#include <stdio.h>
#include <string.h>

#include "app_state.h"

#define REASON_SIZE 256

void ComposeFailureText(char *text, size_t size, const char *what, DWORD error)
{
    char reason[REASON_SIZE];
    if (error == ERROR_SUCCESS || FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL,
                                                 error, 0, reason, sizeof reason, NULL) == 0) {
        snprintf(text, size, "%s", what);
        return;
    }
    // The system's texts end in a line break of their own.
    size_t length = strlen(reason);
    while (length > 0 && (reason[length - 1] == '\r' || reason[length - 1] == '\n')) reason[--length] = '\0';
    snprintf(text, size, "%s\n%s", what, reason);
}

void ShowFailure(const char *what, DWORD error)
{
    char text[FAILURE_TEXT_SIZE];
    ComposeFailureText(text, sizeof text, what, error);
    MessageBoxA(NULL, text, "Error", MB_OK);
}

// The box opens from the main window's queue once the handler that met the
// failure has returned: its own message loop inside a handler of the cycle
// would hold the cycle up, and a Stop chosen meanwhile would be undone when
// the handler went on.
void ReportRunFailure(INT kind, const char *what, DWORD error)
{
    if (kind < 0 || kind >= RUN_FAILURE_KINDS) return;
    ComposeFailureText(app.runFailureText[kind], sizeof app.runFailureText[kind], what, error);
    PostMessageA(app.mainWindow, WM_RUNFAILURE, (WPARAM)kind, 0);
}

LRESULT ShowRunFailure(WPARAM kind)
{
    if (kind >= RUN_FAILURE_KINDS) return 0;
    // A copy: the cycle goes on while the box is open and may report again.
    char text[FAILURE_TEXT_SIZE];
    memcpy(text, app.runFailureText[kind], sizeof text);
    MessageBoxA(NULL, text, "Error", MB_OK);
    return 0;
}
