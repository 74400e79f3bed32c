// The About box (dialog template IDD_ABOUTBOX).
#include "app_state.h"

// Ends on OK/Enter (IDOK) or Escape/close box (IDCANCEL); nothing else.
INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return TRUE;  // the dialog manager gives the focus to the default button
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
