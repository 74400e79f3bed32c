#include "display/qt/frame.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>

#include <algorithm>

#include "display/qt/focus.h"
#include "display/qt/keys.h"
#include "display/qt/menus.h"
#include "display/qt/placement.h"
#include "display/qt/qt_display_impl.h"
#include "display/qt/status_line_view.h"
#include "display/qt/surface.h"
#include "display/qt/title_bar.h"
#include "user/dialog_system.h"

namespace plat::qt {

Frame::Frame(QtDisplay &display, HWND window, Qt::WindowFlags flags, QWidget *owner)
    : QWidget(owner, flags), display_(display), window_(window) {}

void Frame::setParts(QMenuBar *bar, QWidget *client) {
    bar_ = bar;
    client_ = client;
    layoutParts();
}

void Frame::setTitleBar(QWidget *title) {
    title_ = title;
    layoutParts();
}

StatusLineView *Frame::addStatusLine(bool ownTimer) {
    status_ = new StatusLineView(this, window_, ownTimer);
    layoutParts();
    status_->show();
    return status_;
}

int Frame::menuHeight() const { return bar_ && bar_->isVisible() ? bar_->sizeHint().height() : 0; }

int Frame::statusHeight() const { return status_ ? status_->sizeHint().height() : 0; }

void Frame::closeEvent(QCloseEvent *event) {
    // The window goes only when the program destroys it.
    event->ignore();
    HWND window = window_;
    display_.act([window] { user::clickCloseBox(window); });
}

void Frame::keyPressEvent(QKeyEvent *event) {
    std::optional<KeyPress> press = translateKey(event->key(), event->text(), event->modifiers());
    if (!press) return QWidget::keyPressEvent(event);
    HWND window = window_;
    display_.act([window, p = *press] {
        if (!user::isDescendant(user::focus(), window)) user::activate(window);
        user::pressKey(p.virtualKey, p.character, p.modifiers);
    });
}

void Frame::resizeEvent(QResizeEvent *event) {
    layoutParts();
    if (!event->spontaneous() || !client_) return;
    // A person resized the window: the model window takes the new client
    // size, keeping its own frame around it.
    HWND window = window_;
    const QSize client = client_->size();
    display_.act([window, client] {
        RECT outer{}, inner{};
        if (!GetWindowRect(window, &outer) || !GetClientRect(window, &inner)) return;
        if (inner.right == client.width() && inner.bottom == client.height()) return;
        const int extraW = (outer.right - outer.left) - inner.right;
        const int extraH = (outer.bottom - outer.top) - inner.bottom;
        SetWindowPos(window, nullptr, 0, 0, client.width() + extraW, client.height() + extraH,
                     SWP_NOMOVE | SWP_NOZORDER);
    });
}

void Frame::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow()) return;
    HWND window = window_;
    display_.act([window] {
        if (user::activeWindow() != window) user::activate(window);
    });
}

void Frame::layoutParts() {
    const int title = titleHeight();
    const int top = title + menuHeight();
    const int bottom = statusHeight();
    if (title_) title_->setGeometry(0, 0, width(), title);
    if (bar_) bar_->setGeometry(0, title, width(), top - title);
    if (client_) client_->setGeometry(0, top, width(), std::max(0, height() - top - bottom));
    if (status_) status_->setGeometry(0, std::max(top, height() - bottom), width(), bottom);
}

namespace {

Qt::WindowFlags frameFlags(const user::Window &w, bool ownTitleBars) {
    Qt::WindowFlags flags = w.owner || user::isDialog(w.handle) ? Qt::Dialog : Qt::Window;
    if ((w.style & WS_CAPTION) != WS_CAPTION) return flags | Qt::FramelessWindowHint;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    // Without a system menu the caption has no buttons at all.
    if (w.style & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (w.style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
        if (w.style & WS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
    }
    // The display's own title bar stands in for the one nobody else draws.
    if (ownTitleBars) flags |= Qt::FramelessWindowHint;
    return flags;
}

// Keeps a top-level window within the screen's available area. The model
// window moves with it, so dialogs centred on it and the program's own
// positions agree with what is shown.
void placeOnScreen(View &view, const user::Window &w) {
    QWidget *frame = view.widget;
    const QPoint wanted(w.rect.left, w.rect.top);
    QScreen *screen = QGuiApplication::screenAt(wanted);
    if (!screen) screen = frame->screen() ? frame->screen() : QGuiApplication::primaryScreen();
    if (!screen) return frame->move(wanted);
    // A window manager's decoration counts too, once it is known.
    const QSize decorated = frame->frameGeometry().size().expandedTo(frame->size());
    const QPoint placed = placeWithin(wanted, decorated, screen->availableGeometry());
    frame->move(placed);
    if (placed == wanted) return;
    SetWindowPos(view.window, nullptr, placed.x(), placed.y(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (const user::Window *moved = user::find(view.window)) view.placed = moved->rect;
}

}  // namespace

void createFrame(QtDisplay &display, View &view, const user::Window &w, QWidget *owner) {
    const bool titled = (w.style & WS_CAPTION) == WS_CAPTION;
    auto *frame = new Frame(display, view.window, frameFlags(w, display.drawsTitleBars()), owner);
    view.widget = frame;
    view.client = new Surface(view, frame);
    frame->setParts(nullptr, view.client);
    if (display.drawsTitleBars() && titled) {
        view.titleBar = makeTitleBar(display, view.window, frame);
        frame->setTitleBar(view.titleBar);
    }
    rebuildMenuBar(display, view);
}

void updateFrame(QtDisplay &display, View &view, const user::Window &w) {
    auto *frame = frameOf(view);
    if (!view.shownTitle || *view.shownTitle != w.text) {
        view.shownTitle = w.text;
        const QString title = QString::fromLocal8Bit(w.text.c_str());
        if (frame->windowTitle() != title) frame->setWindowTitle(title);
        if (view.titleBar) updateTitleBar(view.titleBar, title);
    }
    if (!view.hasPlaced || !sameRect(view.placed, w.rect)) {
        view.placed = w.rect;
        view.hasPlaced = true;
        RECT client{};
        GetClientRect(view.window, &client);
        frame->resize(client.right, client.bottom + frame->extraHeight());
        placeOnScreen(view, w);
    }
    frame->setEnabled(!(w.style & WS_DISABLED));
    const bool visible = w.style & WS_VISIBLE;
    if (!visible) {
        if (frame->isVisible()) frame->hide();
        return;
    }
    const bool minimized = w.style & WS_MINIMIZE;
    if (!frame->isVisible() || frame->isMinimized() != minimized) {
        // Showing a window may activate it; the model says which is active.
        display.focus().forgetShownActive();
        if (minimized)
            frame->showMinimized();
        else
            frame->showNormal();
    }
}

}  // namespace plat::qt
