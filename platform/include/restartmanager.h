// The restart manager's question the program asks: which processes are
// using a file. On this platform the processes that hold a file for writing
// (files/replace_file.h) are listed; a reader takes no share lock here, and
// holds nothing.
#ifndef NOCTIL_PLATFORM_RESTARTMANAGER_H
#define NOCTIL_PLATFORM_RESTARTMANAGER_H

#include <windows.h>

#define CCH_RM_SESSION_KEY 32
#define CCH_RM_MAX_APP_NAME 255
#define CCH_RM_MAX_SVC_NAME 63

extern "C" {

typedef enum _RM_APP_TYPE {
    RmUnknownApp = 0,
    RmMainWindow = 1,
    RmOtherWindow = 2,
    RmService = 3,
    RmExplorer = 4,
    RmConsole = 5,
    RmCritical = 1000
} RM_APP_TYPE;

typedef struct _RM_UNIQUE_PROCESS {
    DWORD dwProcessId;
    FILETIME ProcessStartTime;
} RM_UNIQUE_PROCESS, *PRM_UNIQUE_PROCESS;

typedef struct _RM_PROCESS_INFO {
    RM_UNIQUE_PROCESS Process;
    WCHAR strAppName[CCH_RM_MAX_APP_NAME + 1];
    WCHAR strServiceShortName[CCH_RM_MAX_SVC_NAME + 1];
    RM_APP_TYPE ApplicationType;
    ULONG AppStatus;
    DWORD TSSessionId;
    BOOL bRestartable;
} RM_PROCESS_INFO, *PRM_PROCESS_INFO;

// A session of questions; `strSessionKey` holds CCH_RM_SESSION_KEY + 1 characters.
DWORD WINAPI RmStartSession(DWORD *pSessionHandle, DWORD dwSessionFlags, WCHAR strSessionKey[]);
// The files to ask about (applications and services are not asked about here).
DWORD WINAPI RmRegisterResources(DWORD dwSessionHandle, UINT nFiles, LPCWSTR rgsFileNames[], UINT nApplications,
                                 RM_UNIQUE_PROCESS rgApplications[], UINT nServices, LPCWSTR rgsServiceNames[]);
// The processes using them: `*pnProcInfo` entries of room in, the number
// filled out; ERROR_MORE_DATA with `*pnProcInfoNeeded` when there is too little room.
DWORD WINAPI RmGetList(DWORD dwSessionHandle, UINT *pnProcInfoNeeded, UINT *pnProcInfo,
                       RM_PROCESS_INFO rgAffectedApps[], LPDWORD lpdwRebootReasons);
DWORD WINAPI RmEndSession(DWORD dwSessionHandle);

}  // extern "C"

#endif  // NOCTIL_PLATFORM_RESTARTMANAGER_H
