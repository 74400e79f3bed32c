// The Save As dialog for the output file, and the File menu's
// "Save images in..." command that opens it without the Setup dialog.
#include <windows.h>
#include <commdlg.h>
#include <string.h>

#include "app_state.h"
#include "save_dialog.h"

// Two filter pairs, each text ended by a zero; the literal's own terminator
// ends the list.
static const char fileFilter[] = "Microsoft AVI\0*.avi\0All Files\0*.*\0";

// The path must exist; there is no overwrite question, since the output
// file is replaced or numbered when a run opens it, and no extension is
// added to a name typed without one.
BOOL AskImageFileName(HWND owner, LPSTR name)
{
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = fileFilter;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = name;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = "Save images in...";
    ofn.Flags = OFN_PATHMUSTEXIST;
    return GetSaveFileNameA(&ofn);
}

// File menu: a confirmed name replaces imageFile at once. Only while the
// selection state is armed: at start, after Stop, and in a run until its
// first image is made (the state then stays at its render value until Stop),
// so once a run has an image the name it writes to stays shown.
LRESULT SaveImagesIn(void)
{
    if (app.SelectionState != SELECTION_ARMED) return 0;
    AskImageFileName(app.mainWindow, app.settings.imageFile);
    return 0;
}
