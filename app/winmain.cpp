// The program's entry point: window classes, start-up, the message loop.
#include <stdio.h>
#include <stdlib.h>

#include "app_state.h"

static const char mainClassName[] = "NoctilWndClass";
static const char snapshotClassName[] = "NoctilSnapshotClass";

// The snapshot window has a caption and sizing frame but no system menu,
// so no caption buttons.
#define SNAPSHOT_STYLE (WS_CLIPCHILDREN | WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define SNAPSHOT_WIDTH 660
#define SNAPSHOT_HEIGHT 520

// Registers one window class with the values both classes share.
static void RegisterOneClass(HINSTANCE instance, LPCSTR className, WNDPROC procedure, LPCSTR menuName)
{
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPICON));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(UINT_PTR)(COLOR_WINDOW + 1);
    wc.lpszMenuName = menuName;
    wc.lpszClassName = className;
    wc.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_APPICON_SMALL));
    RegisterClassExA(&wc);  // a failure shows up as a failed main window
}

// The snapshot class first, then the main class with menu 109.
static void RegisterWindowClasses(HINSTANCE instance)
{
    RegisterOneClass(instance, snapshotClassName, SnapshotWndProc, NULL);
    RegisterOneClass(instance, mainClassName, MainWndProc, MAKEINTRESOURCEA(IDC_MAINMENU));
}

// Creates the main window (whose creation connects the capture driver),
// the snapshot window and the toolbar, and rests the camera. Returns 0 when
// the main window could not be created.
static BOOL CreateMainWindows(HINSTANCE instance, int showCommand)
{
    app.instanceHandle = instance;
    HWND mainWindow = CreateWindowExA(0, mainClassName, "Noctil", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                                      0, NULL, NULL, instance, NULL);
    if (mainWindow == NULL) return FALSE;
    app.mainWindow = mainWindow;
    ShowWindow(mainWindow, showCommand);
    UpdateWindow(mainWindow);

    app.snapshotWindow = CreateWindowExA(0, snapshotClassName, "NoctilSnapshot", SNAPSHOT_STYLE, CW_USEDEFAULT, 0,
                                         SNAPSHOT_WIDTH, SNAPSHOT_HEIGHT, NULL, NULL, instance, NULL);
    ShowWindow(app.snapshotWindow, showCommand);  // a missing snapshot window is tolerated

    CreateToolbar(mainWindow);
    WriteCameraPort(PORT_IDLE);
    SetCaptureState(CAPSTATE_IDLE);
    return TRUE;
}

// Accelerator keys become commands for the window they were meant for, so
// only the main window acts on the About keys.
static int RunMessageLoop(HINSTANCE instance)
{
    HACCEL accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_MAINMENU));
    WriteCameraPort(PORT_IDLE);
    MSG msg = {};
    while (GetMessageA(&msg, NULL, 0, 0)) {
        if (!TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return (int)msg.wParam;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand)
{
    // The last image is the program's one heap block and lives until the
    // process ends; when WinMain runs again in the same process, the block an
    // earlier run left is released before the state is cleared.
    free(app.lastImage);
    InitAppState();
    RegisterWindowClasses(instance);
    ChooseFilePlaces();
    // Temporary files of an earlier run's final image; absent ones are fine.
    remove(app.captureFile);
    remove(app.captureCopyFile);
    LoadSettings();
    if (!CreateMainWindows(instance, showCommand)) return 0;  // settings are not saved
    int exitCode = RunMessageLoop(instance);
    SaveSettings();
    return exitCode;
}
