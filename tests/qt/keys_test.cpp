// Keys a person presses in a Qt window, as the window system's keyboard
// reports them: virtual key, character, modifiers.
#include <gtest/gtest.h>

#include "display/qt/keys.h"
#include "user/window_system.h"

namespace {

using plat::user::kAlt;
using plat::user::kControl;
using plat::user::kShift;

TEST(QtKeys, TranslatesWhatTheProgramCanSee) {
    const struct {
        const char *name;
        int key;
        const char *text;
        Qt::KeyboardModifiers modifiers;
        UINT virtualKey;
        char character;
        unsigned held;
    } cases[] = {
        {"Alt+? as most platforms give it", Qt::Key_Question, "?", Qt::AltModifier | Qt::ShiftModifier, 0xBF, '?',
         kAlt | kShift},
        {"Alt+? without text", Qt::Key_Question, "", Qt::AltModifier | Qt::ShiftModifier, 0xBF, '?', kAlt | kShift},
        {"Alt+/", Qt::Key_Slash, "/", Qt::AltModifier, 0xBF, '/', kAlt},
        {"Return", Qt::Key_Return, "\r", Qt::NoModifier, VK_RETURN, '\r', 0},
        {"keypad Enter", Qt::Key_Enter, "\r", Qt::KeypadModifier, VK_RETURN, '\r', 0},
        {"Escape", Qt::Key_Escape, "\x1b", Qt::NoModifier, VK_ESCAPE, 0x1B, 0},
        {"Shift+Tab", Qt::Key_Backtab, "", Qt::ShiftModifier, VK_TAB, '\t', kShift},
        {"a digit", Qt::Key_7, "7", Qt::NoModifier, '7', '7', 0},
        {"a lower-case letter", Qt::Key_E, "e", Qt::NoModifier, 'E', 'e', 0},
        {"a capital letter", Qt::Key_E, "E", Qt::ShiftModifier, 'E', 'E', kShift},
        {"Alt+letter", Qt::Key_F, "", Qt::AltModifier, 'F', 'f', kAlt},
        {"Control+letter", Qt::Key_C, "\x03", Qt::ControlModifier, 'C', 0x03, kControl},
        {"a shifted digit key", Qt::Key_Exclam, "!", Qt::ShiftModifier, '1', '!', kShift},
        {"Backspace", Qt::Key_Backspace, "\b", Qt::NoModifier, VK_BACK, '\b', 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto press = plat::qt::translateKey(c.key, QString::fromLatin1(c.text), c.modifiers);
        ASSERT_TRUE(press.has_value());
        EXPECT_EQ(press->virtualKey, c.virtualKey);
        EXPECT_EQ(press->character, c.character);
        EXPECT_EQ(press->modifiers, c.held);
    }
}

TEST(QtKeys, IgnoresKeysWithoutMeaningHere) {
    for (int key : {int(Qt::Key_Alt), int(Qt::Key_Shift), int(Qt::Key_F5), int(Qt::Key_Left), int(Qt::Key_Eacute)})
        EXPECT_FALSE(plat::qt::translateKey(key, QString(), Qt::NoModifier).has_value()) << key;
}

}  // namespace
