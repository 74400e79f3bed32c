// A key a person pressed in a Qt window, as the window system's keyboard
// sees it: the virtual key, the character the layout made of it, and the
// modifiers held down.
#pragma once

#include <windows.h>

#include <QString>

#include <optional>

namespace plat::qt {

struct KeyPress {
    UINT virtualKey = 0;
    char character = 0;      // 0: the key makes no character
    unsigned modifiers = 0;  // plat::user::KeyModifier bits
};

// Null for keys the program cannot see (a modifier alone, keys outside the
// few the window system knows).
std::optional<KeyPress> translateKey(int qtKey, const QString &text, Qt::KeyboardModifiers modifiers);

}  // namespace plat::qt
