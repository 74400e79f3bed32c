#include "display/qt/keys.h"

#include <cctype>
#include <cstring>

#include "user/window_system.h"

namespace plat::qt {

namespace {

// The virtual key of a punctuation key on the usual layout: both characters
// of a key share it, as the window system's keyboard reports keys, not
// characters.
UINT punctuationKey(char c) {
    static constexpr struct {
        const char *characters;
        UINT key;
    } keys[] = {
        {";:", 0xBA}, {"=+", 0xBB},  {",<", 0xBC}, {"-_", 0xBD},  {".>", 0xBE}, {"/?", 0xBF}, {"`~", 0xC0},
        {"[{", 0xDB}, {"\\|", 0xDC}, {"]}", 0xDD}, {"'\"", 0xDE}, {")0", '0'},  {"!1", '1'},  {"@2", '2'},
        {"#3", '3'},  {"$4", '4'},   {"%5", '5'},  {"^6", '6'},   {"&7", '7'},  {"*8", '8'},  {"(9", '9'},
    };
    for (const auto &k : keys)
        if (std::strchr(k.characters, c)) return k.key;
    return 0;
}

}  // namespace

std::optional<KeyPress> translateKey(int qtKey, const QString &text, Qt::KeyboardModifiers qtModifiers) {
    KeyPress press;
    if (qtModifiers & Qt::ShiftModifier) press.modifiers |= user::kShift;
    if (qtModifiers & Qt::ControlModifier) press.modifiers |= user::kControl;
    if (qtModifiers & Qt::AltModifier) press.modifiers |= user::kAlt;
    const bool shift = press.modifiers & user::kShift;

    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        press.virtualKey = VK_RETURN;
        press.character = '\r';
        return press;
    case Qt::Key_Escape:
        press.virtualKey = VK_ESCAPE;
        press.character = 0x1B;
        return press;
    case Qt::Key_Tab:
        press.virtualKey = VK_TAB;
        press.character = '\t';
        return press;
    case Qt::Key_Backtab:
        press.virtualKey = VK_TAB;
        press.character = '\t';
        press.modifiers |= user::kShift;
        return press;
    case Qt::Key_Backspace:
        press.virtualKey = VK_BACK;
        press.character = '\b';
        return press;
    case Qt::Key_Space:
        press.virtualKey = VK_SPACE;
        press.character = ' ';
        return press;
    default: break;
    }
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) {
        press.virtualKey = static_cast<UINT>(qtKey);
        press.character = static_cast<char>(shift ? qtKey : std::tolower(qtKey));
        if (press.modifiers & user::kControl) press.character = static_cast<char>(qtKey - 'A' + 1);
        return press;
    }
    // Other printable keys: Qt names them by their character. With Alt or
    // Control the platform may give no text, so the key code stands for it.
    char c = 0;
    if (text.size() == 1 && text[0].unicode() >= 0x20 && text[0].unicode() < 0x7F)
        c = static_cast<char>(text[0].unicode());
    else if (qtKey >= 0x20 && qtKey < 0x7F)
        c = static_cast<char>(qtKey);
    if (!c) return std::nullopt;
    press.virtualKey = std::isdigit(static_cast<unsigned char>(c)) ? static_cast<UINT>(c) : punctuationKey(c);
    if (!press.virtualKey) return std::nullopt;
    press.character = c;
    return press;
}

}  // namespace plat::qt
