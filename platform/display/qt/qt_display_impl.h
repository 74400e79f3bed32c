// The Qt display's inside, for its own files, its tests and screenshots.
//
// Every model window that exists has a view: a top-level window becomes a
// frame (a Qt window holding the menu bar and the client area), a child
// window becomes the Qt widget of its kind (buttons, edit boxes, labels,
// the toolbar) or a surface showing what was painted on it (the capture
// window's video). The model's observers only mark what changed; the widgets
// are brought up to date when the message loop waits, never from inside a
// window procedure. What a person does in a widget is queued as an action
// and run, through the window system's own functions, when Qt's event
// processing has returned.
#pragma once

#include <windows.h>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "display/display.h"
#include "user/window_system.h"

class QMenu;
class QMenuBar;

namespace plat::qt {

enum class ViewKind { Frame, Surface, PushButton, CheckBox, Edit, Combo, Label, Icon, Group, Toolbar };

struct View {
    HWND window = nullptr;
    ViewKind kind = ViewKind::Surface;
    QPointer<QWidget> widget;  // the frame, or the control itself
    QPointer<QWidget> client;  // where child windows go and painting shows
    QPointer<QMenuBar> menuBar;
    HMENU menu = nullptr;  // the menu the bar was built from
    QImage canvas;         // the client area's pixels, kept between paints
    std::uint64_t serial = 0;
    RECT placed{};  // the model rectangle last given to the widget
    bool hasPlaced = false;
    int toolbarButtons = -1;  // toolbars: the buttons the widget was built for
};

class QtDisplay final : public Display {
public:
    // Without a pacer the display waits on the real clock. With one (tests
    // on the virtual clock), Qt's pending events are processed without
    // blocking and the pacer decides how time moves and runs the script.
    explicit QtDisplay(std::unique_ptr<Display> pacer = nullptr);
    ~QtDisplay() override;

    void wait(std::optional<Micros> deadline) override;
    void beep(unsigned type) override;

    // Brings every widget up to date with the model now.
    void sync();
    // Queues what a person did; it runs when the loop next waits.
    void act(std::function<void()> action);
    // Runs the queued actions; true when there were any. Showing the model
    // (sync) runs them first too.
    bool runActions();

    // The widget showing a window (the frame of a top-level window), or null.
    QWidget *widgetOf(HWND window) const;
    QMenuBar *menuBarOf(HWND window) const;
    HWND windowOf(const QWidget *widget) const;
    unsigned beeps() const { return beeps_; }

    // Rebuilds an opening pop-up from the model (after its WM_INITMENU).
    void refreshMenu(HWND window, QMenu *menu, HMENU source);

private:
    void subscribeOnce();
    void createView(HWND window);
    void updateView(View &view);
    void updateFrame(View &view, const user::Window &w);
    void rebuildMenuBar(View &view);
    void syncFocus();

    std::unique_ptr<Display> pacer_;
    QMetaObject::Connection focusConnection_;
    std::map<HWND, View> views_;
    int observer_ = 0;
    bool structureDirty_ = true;
    bool menusDirty_ = true;
    std::set<HWND> painted_;
    std::vector<std::function<void()>> actions_;
    bool acted_ = false;  // actions ran during this wait: the loop has work
    HWND shownFocus_ = nullptr;
    bool settingFocus_ = false;
    unsigned beeps_ = 0;
};

// Views of dialog controls and the toolbar (qt_controls.cpp).
ViewKind controlKind(const user::Window &w);
QWidget *createControl(QtDisplay &display, View &view, const user::Window &w, QWidget *parent);
void updateControl(QtDisplay &display, View &view, const user::Window &w);

}  // namespace plat::qt
