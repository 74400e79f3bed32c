// The snapshot window: the latest image at its natural size in the top-left
// corner.
#include "app_state.h"

static void PaintSnapshot(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PackedDib *image = app.lastImage;
    if (image != NULL) {
        SetDIBitsToDevice(dc, 0, 0, (DWORD)image->biWidth, (DWORD)image->biHeight, 0, 0, 0, (UINT)image->biHeight,
                          app.lastImageBits, (const BITMAPINFO *)image, DIB_RGB_COLORS);
    }
    EndPaint(window, &paint);
}

LRESULT CALLBACK SnapshotWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: PaintSnapshot(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}
