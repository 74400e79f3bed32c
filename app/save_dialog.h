// The Save As dialog that names the output file, shared by the Setup
// dialog's "..." button and the File menu.
#ifndef NOCTIL_SAVE_DIALOG_H
#define NOCTIL_SAVE_DIALOG_H

#include <windows.h>

// Runs the dialog over `name` (MAX_PATH bytes holding the current name);
// non-zero when the user confirmed, and `name` then holds the new name.
BOOL AskImageFileName(HWND owner, LPSTR name);

#endif  // NOCTIL_SAVE_DIALOG_H
