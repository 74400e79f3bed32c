// The program's resources: the binary resource file (.res, as the resource
// compiler writes it) that the session serves as the program's module, and readers that turn its
// standard templates into the structures the window system builds from.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace plat {
class Session;
}

namespace plat::res {

struct MenuItem {
    std::string text;             // with its '&' mnemonics; empty for a separator
    unsigned id = 0;              // command id; 0 for pop-ups and separators
    unsigned flags = 0;           // MF_GRAYED, MF_CHECKED, MF_POPUP, MF_SEPARATOR ...
    std::vector<MenuItem> items;  // the pop-up's items
};

struct DialogControl {
    std::string className;  // "BUTTON", "EDIT", "STATIC", ... (predefined ordinals named)
    std::string text;       // empty when the title is an ordinal
    int textOrdinal = -1;   // resource id given as title (an SS_ICON's icon), or -1
    int id = 0;             // control id; -1 for 0xFFFF
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};

struct DialogTemplate {
    std::string title;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::string fontName;
    int pointSize = 0;
    std::vector<DialogControl> controls;
};

struct IconImage {
    int width = 0, height = 0, bitCount = 0;
    std::vector<std::uint8_t> dib;  // BITMAPINFOHEADER (double height), palette, XOR and AND masks
};

// The program's module in `session` is the resource file `resources`, which
// must outlive the session (the program's own data, embedded in it).
void serveProgramResources(Session &session, std::span<const std::uint8_t> resources);
// The program's module: its resources are what the session in force serves.
HINSTANCE moduleInstance();

std::optional<std::vector<MenuItem>> loadMenu(HINSTANCE instance, LPCSTR name);
std::optional<std::vector<ACCEL>> loadAccelerators(HINSTANCE instance, LPCSTR name);
std::optional<DialogTemplate> loadDialog(HINSTANCE instance, LPCSTR name);
std::optional<std::vector<IconImage>> loadIconGroup(HINSTANCE instance, LPCSTR name);
// A bitmap resource as a packed DIB: BITMAPINFOHEADER, colour table, rows.
std::optional<std::vector<std::uint8_t>> loadBitmap(HINSTANCE instance, LPCSTR name);

}  // namespace plat::res
