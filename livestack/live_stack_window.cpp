// The Live Stack window: a top-level window of its own, opened and closed
// from the Stack menu, that shows each image's fate in lines of text and
// paints the stretched stack with its histogram. Closing it only closes it.
#include <stdio.h>

#include "live_stack.h"

const char liveStackClassName[] = "NoctilLiveStackClass";

#define LIVESTACK_STYLE WS_OVERLAPPEDWINDOW
#define LIVESTACK_WIDTH 680
#define LIVESTACK_HEIGHT 780
// The text lines, then the row of level buttons, then the picture.
#define LINE_LEFT 8
#define LINE_TOP 8
#define LINE_HEIGHT 18
#define LINE_WIDTH 640
#define BUTTON_TOP (LINE_TOP + STACK_LINES * LINE_HEIGHT + 4)
#define BUTTON_HEIGHT 22
#define VIEW_TOP (BUTTON_TOP + BUTTON_HEIGHT + 8)

// The level line and the buttons that move the levels, left to right.
struct LevelButton {
    int id;
    const char *text;
    int width;
};
static const LevelButton levelButtons[] = {
    {IDC_STACK_AUTO, "Auto", 48},          {IDC_STACK_BLACK_DOWN, "Black -", 60}, {IDC_STACK_BLACK_UP, "Black +", 60},
    {IDC_STACK_WHITE_DOWN, "White -", 60}, {IDC_STACK_WHITE_UP, "White +", 60},   {IDC_STACK_MID_DOWN, "Midtone -", 72},
    {IDC_STACK_MID_UP, "Midtone +", 72},
};

static HWND MakeControl(HWND window, const char *className, const char *text, DWORD style, int x, int y, int width,
                        int height, int id) {
    return CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height, window,
                           (HMENU)(INT_PTR)id, app.instanceHandle, NULL);
}

// WM_CREATE: a text line for each part of the state, the level buttons
// (without a tab stop, so the keyboard focus stays with the window and its
// accelerators), and the state as it stands.
static LRESULT OnCreate(HWND window) {
    for (int line = 0; line < STACK_LINES; line++)
        MakeControl(window, "STATIC", "", SS_LEFT, LINE_LEFT, LINE_TOP + line * LINE_HEIGHT, LINE_WIDTH, LINE_HEIGHT,
                    IDC_STACK_COUNTS + line);
    int x = LINE_LEFT;
    MakeControl(window, "STATIC", "", SS_LEFT, x, BUTTON_TOP + 3, 180, LINE_HEIGHT, IDC_STACK_LEVELS);
    x += 184;
    for (const LevelButton &b : levelButtons) {
        MakeControl(window, "BUTTON", b.text, BS_PUSHBUTTON, x, BUTTON_TOP, b.width, BUTTON_HEIGHT, b.id);
        x += b.width + 4;
    }
    ShowStackState(app.liveStack);
    return 0;
}

// WM_PAINT: the stretched stack and its histogram below the controls.
static LRESULT OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    const LiveStack *live = app.liveStack;
    if (live != NULL && !live->viewRows.empty()) {
        const BITMAPINFOHEADER *h = &live->viewHeader;
        SetDIBitsToDevice(dc, 0, VIEW_TOP, (DWORD)h->biWidth, (DWORD)h->biHeight, 0, 0, 0, (UINT)h->biHeight,
                          live->viewRows.data(), (const BITMAPINFO *)h, DIB_RGB_COLORS);
    }
    EndPaint(window, &paint);
    return 0;
}

// WM_CLOSE: its place is remembered, and only this window goes.
static LRESULT OnClose(HWND window) {
    RememberLiveStackWindow();
    DestroyWindow(window);
    return 0;
}

// WM_DESTROY: the program goes on without it; the menu's check mark goes.
static LRESULT OnDestroy(void) {
    app.liveStackWindow = NULL;
    CheckMenuItem(GetMenu(app.mainWindow), IDM_LIVESTACK, MF_UNCHECKED);
    return 0;
}

// WM_COMMAND: the level buttons; the Stack menu's accelerators, pressed
// while this window has the keyboard, go to the main window as from its menu.
static LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
    WORD id = LOWORD(wParam);
    if (id >= IDC_STACK_AUTO && id <= IDC_STACK_MID_UP) return MoveStackLevel(id);
    if (id >= IDM_LIVESTACK && id <= IDM_SAVESTACK) return SendMessageA(app.mainWindow, WM_COMMAND, wParam, lParam);
    return DefWindowProcA(window, WM_COMMAND, wParam, lParam);
}

LRESULT CALLBACK LiveStackWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: return OnCreate(window);
    case WM_PAINT: return OnPaint(window);
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_CLOSE: return OnClose(window);
    case WM_DESTROY: return OnDestroy();
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void OpenLiveStackWindow(void) {
    if (app.liveStackWindow != NULL) return;
    int left = app.settings.liveStackLeft, top = app.settings.liveStackTop;
    HWND window = CreateWindowExA(0, liveStackClassName, "Live Stack", LIVESTACK_STYLE, left, top, LIVESTACK_WIDTH,
                                  LIVESTACK_HEIGHT, NULL, NULL, app.instanceHandle, NULL);
    if (window == NULL) return;  // the program goes on without it
    app.liveStackWindow = window;
    app.settings.liveStackKept = 1;
    // A run stacks from here on, to its end.
    app.liveStack->active = TRUE;
    CheckMenuItem(GetMenu(app.mainWindow), IDM_LIVESTACK, MF_CHECKED);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
}

LRESULT ToggleLiveStackWindow(void) {
    if (app.liveStackWindow != NULL)
        SendMessageA(app.liveStackWindow, WM_CLOSE, 0, 0);
    else
        OpenLiveStackWindow();
    return 0;
}

void RememberLiveStackWindow(void) {
    app.settings.liveStackOpen = app.liveStackWindow != NULL && IsWindow(app.liveStackWindow);
    RECT place;
    if (!app.settings.liveStackOpen || !GetWindowRect(app.liveStackWindow, &place)) return;
    app.settings.liveStackLeft = place.left;
    app.settings.liveStackTop = place.top;
}
