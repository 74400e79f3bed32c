// A view: what shows one model window in Qt. A top-level window becomes a
// frame (a Qt window holding the menu bar and the client area), a child
// window the Qt widget of its kind (buttons, edit boxes, labels, the
// toolbar) or a surface showing what was painted on it (the capture
// window's video). How each kind is made and kept up to date is one row of
// the table in views.cpp.
#pragma once

#include <windows.h>

#include <QImage>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>

#include "user/window_system.h"

class QMenuBar;

namespace plat::qt {

class QtDisplay;

enum class ViewKind { Frame, Surface, PushButton, CheckBox, Edit, Combo, Label, Icon, Group, Toolbar };

struct View {
    HWND window = nullptr;
    ViewKind kind = ViewKind::Surface;
    QPointer<QWidget> widget;  // the frame, or the control itself
    QPointer<QWidget> client;  // where child windows go and painting shows
    QPointer<QMenuBar> menuBar;
    QPointer<QWidget> titleBar;  // frames where no window manager draws one
    HMENU menu = nullptr;        // the menu the bar was built from
    QImage canvas;               // the client area's pixels, kept between paints
    std::uint64_t serial = 0;
    RECT placed{};  // the model rectangle last given to the widget
    bool hasPlaced = false;
    int toolbarButtons = -1;                // toolbars: the buttons the widget was built for
    std::uint64_t toolbarRevision = 0;      // toolbars: the state the widget shows (0: none yet)
    std::optional<std::string> shownTitle;  // frames: the title the widget shows
    bool fitted = false;  // frames: looked at once (a dialog: font chosen, message box sized to its text)

    bool isFrame() const { return kind == ViewKind::Frame; }
};

// How one kind of view is made and brought up to date with its window.
struct ViewType {
    ViewKind kind;
    // Makes view.widget (and view.client, where children and paint go)
    // under `parent`: the owner's frame of a top-level window, else the
    // parent's client area.
    void (*create)(QtDisplay &display, View &view, const user::Window &w, QWidget *parent);
    void (*update)(QtDisplay &display, View &view, const user::Window &w);
};

// The kind of view that shows `w`, and that kind's row of the table.
ViewKind viewKindOf(const user::Window &w);
const ViewType &viewType(ViewKind kind);

// Widgets carry the handle of the window they show, for the events Qt
// delivers to them (focus, a menu bar's actions).
void tagWithWindow(QWidget *widget, HWND window);
// The window of the nearest tagged widget from `widget` up, or null.
HWND taggedWindow(const QWidget *widget);

// The rectangle a model RECT describes, and whether two are the same.
inline QSize sizeOf(const RECT &r) { return QSize(r.right - r.left, r.bottom - r.top); }
inline bool sameRect(const RECT &a, const RECT &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

}  // namespace plat::qt
