// The shell's folder call: where the user's own files go. Each folder is a
// Windows name on drive C (C:\Users\<login>\...), made when missing only
// with CSIDL_FLAG_CREATE.
#ifndef NOCTIL_PLATFORM_SHLOBJ_H
#define NOCTIL_PLATFORM_SHLOBJ_H

#include <windows.h>

#define CSIDL_PERSONAL 0x0005  // the user's documents
#define CSIDL_APPDATA 0x001a   // the user's application data (roaming)
#define CSIDL_FLAG_CREATE 0x8000
#define SHGFP_TYPE_CURRENT 0

extern "C" {
// S_OK with the folder's name in `path` (MAX_PATH characters); E_FAIL for a
// folder the platform does not have, or that is missing and not to be made.
HRESULT WINAPI SHGetFolderPathA(HWND owner, int folder, HANDLE token, DWORD flags, LPSTR path);
}

#endif  // NOCTIL_PLATFORM_SHLOBJ_H
