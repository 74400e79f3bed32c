// The Setup Capture dialog (template IDD_SETUP): exposure, delay, count,
// amplifier, output file and numbering, committed only by OK or Start
// Capture.
#include <stdio.h>
#include <string.h>

#include "app_state.h"
#include "save_dialog.h"

// Shows the settings; the numbers as unsigned decimals, so a negative value
// from a hand-edited file shows (and commits back) as its 32-bit pattern.
static INT_PTR OnInitDialog(HWND dialog)
{
    const CaptureSettings *s = &app.settings;
    SetDlgItemInt(dialog, IDC_EXPOSURE, (UINT)s->exposureMs, FALSE);
    SetDlgItemInt(dialog, IDC_DELAY, (UINT)s->delayMs, FALSE);
    SetDlgItemInt(dialog, IDC_COUNT, (UINT)s->frameCount, FALSE);
    SetDlgItemTextA(dialog, IDC_FILENAME, s->imageFile);
    CheckDlgButton(dialog, IDC_AMPOFF, s->ampOff ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, IDC_AUTOINCREMENT, s->autoIncrement ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_STARTCAPTURE), app.recording == 0);
    app.setupDialog = dialog;
    return TRUE;  // focus to the first tab stop, the exposure box
}

// Stores a number box into `field` only when its text parses as an unsigned
// 32-bit decimal; an empty or unparsable box keeps the old value.
static void CommitNumber(HWND dialog, int id, INT *field)
{
    BOOL parsed = FALSE;
    UINT value = GetDlgItemInt(dialog, id, &parsed, FALSE);
    if (parsed) *field = (INT)value;
}

// The longest exposure or delay the settings hold: a signed 32-bit number
// of milliseconds (about 24.8 days).
#define MAX_TIME_MS 2147483647u

// Whether a time box holds digits beyond the longest time. The value the
// dialog was opened with is not refused when it comes back unchanged (a
// hand-edited file's negative time shows as its 32-bit pattern); the
// exposure cycle tells of such a time when a run uses it.
static BOOL TimeTooLong(HWND dialog, int id, INT current)
{
    char text[MAX_PATH];
    GetDlgItemTextA(dialog, id, text, sizeof text);
    if (text[0] == '\0' || strspn(text, "0123456789") != strlen(text)) return FALSE;  // empty: kept as it was
    BOOL parsed = FALSE;
    UINT value = GetDlgItemInt(dialog, id, &parsed, FALSE);
    return !parsed || (value > MAX_TIME_MS && value != (UINT)current);
}

// A time box that holds more than the settings can keep is refused as a
// box refuses letters, but in words: the dialog stays open on that box.
// FALSE when one was refused.
static BOOL TimesFit(HWND dialog)
{
    static const struct {
        int id;
        const char *what;
    } times[] = {{IDC_EXPOSURE, "exposure time"}, {IDC_DELAY, "delay time"}};
    const INT current[] = {app.settings.exposureMs, app.settings.delayMs};
    for (size_t i = 0; i < sizeof times / sizeof times[0]; i++) {
        if (!TimeTooLong(dialog, times[i].id, current[i])) continue;
        char text[160];
        snprintf(text, sizeof text, "The %s can be at most %u ms (about 24.8 days).", times[i].what, MAX_TIME_MS);
        MessageBoxA(dialog, text, "Setup Capture", MB_OK | MB_ICONEXCLAMATION);
        HWND box = GetDlgItem(dialog, times[i].id);
        SetFocus(box);
        SendMessageA(box, EM_SETSEL, 0, -1);  // typing replaces it
        return FALSE;
    }
    return TRUE;
}

// Takes the dialog's values into the settings, in this order.
static void Commit(HWND dialog)
{
    CaptureSettings *s = &app.settings;
    CommitNumber(dialog, IDC_EXPOSURE, &s->exposureMs);
    CommitNumber(dialog, IDC_DELAY, &s->delayMs);
    CommitNumber(dialog, IDC_COUNT, &s->frameCount);
    GetDlgItemTextA(dialog, IDC_FILENAME, s->imageFile, sizeof s->imageFile);
    s->ampOff = IsDlgButtonChecked(dialog, IDC_AMPOFF) == BST_CHECKED ? 1 : 0;
    s->autoIncrement = IsDlgButtonChecked(dialog, IDC_AUTOINCREMENT) == BST_CHECKED ? 1 : 0;
}

// Closes the dialog with the id of the button that ended it.
static INT_PTR EndSetup(HWND dialog, int result)
{
    app.setupDialog = NULL;
    EndDialog(dialog, result);
    return TRUE;
}

// "...": a confirmed name goes into the file box; nothing is committed yet.
static INT_PTR OnBrowse(HWND dialog)
{
    char name[MAX_PATH];
    GetDlgItemTextA(dialog, IDC_FILENAME, name, sizeof name);
    if (AskImageFileName(dialog, name)) SetDlgItemTextA(dialog, IDC_FILENAME, name);
    return TRUE;
}

// Start Capture: posted, so the main window starts the run only after the
// values below are committed and the dialog has ended.
static INT_PTR OnStartCapture(HWND dialog)
{
    if (!TimesFit(dialog)) return TRUE;
    PostMessageA(GetParent(dialog), WM_COMMAND, IDM_RECORD, 0);
    Commit(dialog);
    return EndSetup(dialog, IDC_STARTCAPTURE);
}

// Control commands, by the id in the low word; the notification is not examined.
static INT_PTR OnCommand(HWND dialog, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case IDC_BROWSE: return OnBrowse(dialog);
    case IDC_STARTCAPTURE: return OnStartCapture(dialog);
    case IDOK:
        if (!TimesFit(dialog)) return TRUE;
        Commit(dialog);
        return EndSetup(dialog, IDOK);
    case IDCANCEL: return EndSetup(dialog, IDCANCEL);  // also Escape and the close box
    }
    return FALSE;
}

INT_PTR CALLBACK SetupDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return OnInitDialog(dialog);
    case WM_COMMAND: return OnCommand(dialog, wParam);
    }
    return FALSE;
}
