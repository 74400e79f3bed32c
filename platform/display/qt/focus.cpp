#include "display/qt/focus.h"

#include <QApplication>
#include <QWidget>

#include "display/qt/qt_display_impl.h"

namespace plat::qt {

void FocusSync::followQt() {
    connection_ = QObject::connect(qApp, &QApplication::focusChanged, qApp, [this](QWidget *, QWidget *now) {
        if (settingFocus_ || !now) return;
        HWND window = taggedWindow(now);
        const View *view = window ? display_.viewOf(window) : nullptr;
        if (!view || view->isFrame()) return;
        display_.act([window] {
            if (IsWindow(window) && user::focus() != window) SetFocus(window);
        });
    });
}

void FocusSync::disconnect() { QObject::disconnect(connection_); }

void FocusSync::focusMainWindowOnce(HWND mainWindow) {
    if (mainFocused_ || !mainWindow) return;
    const user::Window *w = user::find(mainWindow);
    if (!w || !(w->style & WS_VISIBLE) || (w->style & WS_DISABLED)) return;
    mainFocused_ = true;
    if (!user::isDescendant(user::focus(), mainWindow)) user::activate(mainWindow);
}

void FocusSync::show() {
    // The window the model has active is the one that takes the keys, also
    // right after start, when the window shown last would otherwise have them.
    if (HWND active = user::activeWindow(); active != shownActive_) {
        QWidget *frame = display_.widgetOf(active);
        if (frame && frame->isVisible()) {
            shownActive_ = active;
            settingFocus_ = true;
            if (!frame->isActiveWindow()) frame->activateWindow();
            if (display_.drawsTitleBars()) frame->raise();  // without a window manager nobody else does
            settingFocus_ = false;
        }
    }
    HWND focus = user::focus();
    if (focus == shownFocus_) return;
    shownFocus_ = focus;
    const View *view = display_.viewOf(focus);
    if (!view || !view->widget) return;
    settingFocus_ = true;
    QWidget *top = view->widget->window();
    if (top->isVisible() && !top->isActiveWindow()) top->activateWindow();
    if (!view->isFrame()) view->widget->setFocus(Qt::OtherFocusReason);
    settingFocus_ = false;
}

}  // namespace plat::qt
