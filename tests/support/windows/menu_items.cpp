// Prints a window's menu as another program sees it: menu_items CLASS N
// prints the items of the Nth pop-up (0 = the first) of the menu bar of the
// window of class CLASS, one line each ("&Preview", "-" for a separator).
// Exit status 1 when there is no such window or pop-up.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: menu_items CLASS POPUP\n");
        return 2;
    }
    HWND window = FindWindowA(argv[1], nullptr);
    HMENU bar = window ? GetMenu(window) : nullptr;
    HMENU popup = bar ? GetSubMenu(bar, std::atoi(argv[2])) : nullptr;
    if (popup == nullptr) {
        std::fprintf(stderr, "menu_items: no pop-up %s in the menu of %s (window %p, menu %p)\n", argv[2], argv[1],
                     static_cast<void *>(window), static_cast<void *>(bar));
        return 1;
    }
    const int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; ++i) {
        char text[256] = "";
        MENUITEMINFOA info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof text;
        if (!GetMenuItemInfoA(popup, static_cast<UINT>(i), TRUE, &info)) {
            std::printf("?\n");
            continue;
        }
        std::printf("%s\n", (info.fType & MFT_SEPARATOR) ? "-" : text);
    }
    return 0;
}
