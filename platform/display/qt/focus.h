// Which window is active and which control has the keys, kept the same in
// Qt and in the model both ways: the model's choice is shown, and a person
// moving the focus in Qt (a click, Tab) moves the model's focus.
#pragma once

#include <windows.h>

#include <QMetaObject>

namespace plat::qt {

class QtDisplay;

class FocusSync {
public:
    explicit FocusSync(QtDisplay &display) : display_(display) {}

    // Follows Qt's focus from now on: keyboard focus moved by a person (a
    // click, Tab inside Qt) moves the model's focus to the control.
    void followQt();
    // Stops following Qt's focus (the display is going).
    void disconnect();
    FocusSync(const FocusSync &) = delete;
    FocusSync &operator=(const FocusSync &) = delete;

    // Shows the model's active window and focus (a new one only).
    void show();
    // A frame was shown anew, which may have activated it: the model's
    // active window is shown again.
    void forgetShownActive() { shownActive_ = nullptr; }
    // The program shows its snapshot window after the main window, which
    // leaves the snapshot window active and the menus' keys without effect
    // until a click. The first time the main window shows, it is given the
    // keys, as a person's click on it would.
    void focusMainWindowOnce(HWND mainWindow);

private:
    QtDisplay &display_;
    QMetaObject::Connection connection_;
    HWND shownFocus_ = nullptr;
    HWND shownActive_ = nullptr;
    bool settingFocus_ = false;
    bool mainFocused_ = false;
};

}  // namespace plat::qt
