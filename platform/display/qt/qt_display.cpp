#include "display/qt/qt_display.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QTimer>

#include <cstdlib>

#include "core/session.h"
#include "display/qt/dib_image.h"
#include "display/qt/keys.h"
#include "display/qt/qt_display_impl.h"
#include "user/dialog_system.h"

namespace plat {

bool qtDisplayAvailable() {
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char *value = std::getenv(name); value && *value) return true;
    return false;
}

std::unique_ptr<Display> makeQtDisplay() { return std::make_unique<qt::QtDisplay>(); }

}  // namespace plat

namespace plat::qt {

namespace {

constexpr const char *kWindowProperty = "noctilWindow";

// The one Qt application of the process. It outlives every session (tests
// run many) and is left to the process exit.
void ensureApplication() {
    if (QApplication::instance()) return;
    static int argc = 1;
    static char name[] = "noctil";
    static char *argv[] = {name, nullptr};
    auto *app = new QApplication(argc, argv);
    app->setQuitOnLastWindowClosed(false);
}

QSize sizeOf(const RECT &r) { return QSize(r.right - r.left, r.bottom - r.top); }

bool sameRect(const RECT &a, const RECT &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// What the window's class paints its background with: the window colour.
QColor windowBackground() { return QColor(255, 255, 255); }

// The client area of a window: what was painted on it, over its background.
class Surface final : public QWidget {
public:
    Surface(View &view, QWidget *parent) : QWidget(parent), view_(view) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        if (view_.canvas.isNull())
            painter.fillRect(rect(), windowBackground());
        else
            painter.drawImage(0, 0, view_.canvas);
    }

private:
    View &view_;
};

// A top-level window: its menu bar above its client area. The close box,
// keys and a person's resizing go to the window system as actions.
class Frame final : public QWidget {
public:
    Frame(QtDisplay &display, HWND window, Qt::WindowFlags flags, QWidget *owner)
        : QWidget(owner, flags), display_(display), window_(window) {}

    void setParts(QMenuBar *bar, QWidget *client) {
        bar_ = bar;
        client_ = client;
        layoutParts();
    }
    int menuHeight() const { return bar_ && bar_->isVisible() ? bar_->sizeHint().height() : 0; }

protected:
    void closeEvent(QCloseEvent *event) override {
        // The window goes only when the program destroys it.
        event->ignore();
        HWND window = window_;
        display_.act([window] { user::clickCloseBox(window); });
    }

    void keyPressEvent(QKeyEvent *event) override {
        std::optional<KeyPress> press = translateKey(event->key(), event->text(), event->modifiers());
        if (!press) return QWidget::keyPressEvent(event);
        HWND window = window_;
        display_.act([window, p = *press] {
            if (!user::isDescendant(user::focus(), window)) user::activate(window);
            user::pressKey(p.virtualKey, p.character, p.modifiers);
        });
    }

    void resizeEvent(QResizeEvent *event) override {
        layoutParts();
        if (!event->spontaneous() || !client_) return;
        // A person resized the window: the model window takes the new
        // client size, keeping its own frame around it.
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

    void changeEvent(QEvent *event) override {
        QWidget::changeEvent(event);
        if (event->type() != QEvent::ActivationChange || !isActiveWindow()) return;
        HWND window = window_;
        display_.act([window] {
            if (user::activeWindow() != window) user::activate(window);
        });
    }

private:
    void layoutParts() {
        const int top = menuHeight();
        if (bar_) bar_->setGeometry(0, 0, width(), top);
        if (client_) client_->setGeometry(0, top, width(), std::max(0, height() - top));
    }

    QtDisplay &display_;
    HWND window_;
    QPointer<QMenuBar> bar_;
    QPointer<QWidget> client_;
};

Qt::WindowFlags frameFlags(const user::Window &w) {
    Qt::WindowFlags flags = w.owner || user::isDialog(w.handle) ? Qt::Dialog : Qt::Window;
    if ((w.style & WS_CAPTION) != WS_CAPTION) return flags | Qt::FramelessWindowHint;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    // Without a system menu the caption has no buttons at all.
    if (w.style & WS_SYSMENU) {
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (w.style & WS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
        if (w.style & WS_MAXIMIZEBOX) flags |= Qt::WindowMaximizeButtonHint;
    }
    return flags;
}

}  // namespace

QtDisplay::QtDisplay(std::unique_ptr<Display> pacer) : pacer_(std::move(pacer)) {
    ensureApplication();
    // Keyboard focus moved by a person (a click, Tab inside Qt) moves the
    // model's focus to the control.
    focusConnection_ = QObject::connect(qApp, &QApplication::focusChanged, qApp, [this](QWidget *, QWidget *now) {
        if (settingFocus_ || !now) return;
        HWND window = windowOf(now);
        if (!window) return;
        auto it = views_.find(window);
        if (it == views_.end() || it->second.kind == ViewKind::Frame) return;
        act([window] {
            if (IsWindow(window) && user::focus() != window) SetFocus(window);
        });
    });
}

QtDisplay::~QtDisplay() {
    // The session has already let go of the window model: only widgets here.
    QObject::disconnect(focusConnection_);
    for (auto &[window, view] : views_)
        if (view.kind == ViewKind::Frame && view.widget) delete view.widget.data();
    views_.clear();
}

void QtDisplay::subscribeOnce() {
    if (observer_) return;
    observer_ = user::subscribe([this](HWND window, user::Change change) {
        switch (change) {
            case user::Change::Painted: painted_.insert(window); break;
            case user::Change::Menu: menusDirty_ = true; break;
            default: structureDirty_ = true; break;
        }
    });
}

void QtDisplay::act(std::function<void()> action) { actions_.push_back(std::move(action)); }

bool QtDisplay::runActions() {
    if (actions_.empty()) return false;
    acted_ = true;
    std::vector<std::function<void()>> due;
    due.swap(actions_);
    for (auto &action : due) action();
    return true;
}

void QtDisplay::beep(unsigned type) {
    ++beeps_;
    QApplication::beep();
}

QWidget *QtDisplay::widgetOf(HWND window) const {
    auto it = views_.find(window);
    return it == views_.end() ? nullptr : it->second.widget.data();
}

QMenuBar *QtDisplay::menuBarOf(HWND window) const {
    auto it = views_.find(window);
    return it == views_.end() ? nullptr : it->second.menuBar.data();
}

HWND QtDisplay::windowOf(const QWidget *widget) const {
    for (; widget; widget = widget->parentWidget()) {
        QVariant value = widget->property(kWindowProperty);
        if (value.isValid()) return reinterpret_cast<HWND>(value.value<quintptr>());
    }
    return nullptr;
}

void QtDisplay::wait(std::optional<Micros> deadline) {
    subscribeOnce();
    acted_ = false;
    sync();
    if (pacer_) {
        QApplication::processEvents();
        if (runActions() || acted_) return;
        pacer_->wait(deadline);
        QApplication::processEvents();
        runActions();
        return;
    }
    Clock &clock = session().clock();
    QEventLoop loop;
    for (;;) {
        if (runActions() || acted_) return;
        std::optional<Micros> left;
        if (deadline) {
            const Micros now = clock.now();
            if (now >= *deadline) return;
            left = *deadline - now;
        }
        // Qt wakes for the deadline like for any other event; rounding up
        // keeps the wake from coming before the timer is due.
        QTimer timer;
        if (left) {
            timer.setSingleShot(true);
            timer.setTimerType(Qt::PreciseTimer);
            timer.start(static_cast<int>((*left + 999) / 1000));
        }
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        if (structureDirty_ || !painted_.empty() || menusDirty_) sync();
    }
}

// ---- Bringing the widgets up to date -----------------------------------------------

void QtDisplay::sync() {
    subscribeOnce();
    // What a person has just done goes to the model first, so that showing
    // the model does not undo it (an edit box's typed text).
    runActions();
    if (structureDirty_) {
        structureDirty_ = false;
        for (auto it = views_.begin(); it != views_.end();) {
            if (user::find(it->first)) {
                ++it;
                continue;
            }
            if (it->second.kind == ViewKind::Frame && it->second.widget) delete it->second.widget.data();
            it = views_.erase(it);
        }
        // Handles grow with creation, so a parent comes before its children.
        for (HWND window : user::windows())
            if (!views_.contains(window)) createView(window);
    }
    for (auto &[window, view] : views_) updateView(view);
    if (menusDirty_) {
        menusDirty_ = false;
        for (auto &[window, view] : views_)
            if (view.kind == ViewKind::Frame) rebuildMenuBar(view);
    }
    for (HWND window : painted_) {
        auto it = views_.find(window);
        const user::PaintSurface *surface = user::paintSurface(window);
        if (it == views_.end() || !surface || !it->second.client) continue;
        View &view = it->second;
        if (surface->serial == view.serial) continue;
        view.serial = surface->serial;
        if (view.canvas.size() != view.client->size() || view.canvas.isNull()) {
            view.canvas = QImage(view.client->size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
            view.canvas.fill(windowBackground());
        }
        drawSurface(view.canvas, *surface);
        view.client->update();
    }
    painted_.clear();
    syncFocus();
    // Qt defers some deletions to its event loop, which never runs as a
    // whole here (the window system's loop does): carry them out now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QtDisplay::createView(HWND window) {
    const user::Window *w = user::find(window);
    if (!w) return;
    View &view = views_[window];
    view.window = window;
    if (!(w->style & WS_CHILD)) {
        QWidget *owner = w->owner ? widgetOf(w->owner) : nullptr;
        auto *frame = new Frame(*this, window, frameFlags(*w), owner);
        view.kind = ViewKind::Frame;
        view.widget = frame;
        view.client = new Surface(view, frame);
        frame->setParts(nullptr, view.client);
        rebuildMenuBar(view);
    } else {
        auto parent = views_.find(w->parent);
        if (parent == views_.end() || !parent->second.client) {
            views_.erase(window);
            return;
        }
        view.kind = controlKind(*w);
        if (view.kind == ViewKind::Surface) {
            view.widget = view.client = new Surface(view, parent->second.client);
        } else {
            view.widget = createControl(*this, view, *w, parent->second.client);
            view.client = view.widget;
        }
    }
    view.widget->setProperty(kWindowProperty, QVariant::fromValue(reinterpret_cast<quintptr>(window)));
    if (user::paintSurface(window)) painted_.insert(window);
}

void QtDisplay::updateView(View &view) {
    const user::Window *w = user::find(view.window);
    if (!w || !view.widget) return;
    if (view.kind == ViewKind::Frame) return updateFrame(view, *w);
    if (!view.hasPlaced || !sameRect(view.placed, w->rect)) {
        view.placed = w->rect;
        view.hasPlaced = true;
        view.widget->setGeometry(QRect(QPoint(w->rect.left, w->rect.top), sizeOf(w->rect)));
    }
    view.widget->setEnabled(!(w->style & WS_DISABLED));
    if (view.kind != ViewKind::Surface) updateControl(*this, view, *w);
    view.widget->setVisible(w->style & WS_VISIBLE);
}

void QtDisplay::updateFrame(View &view, const user::Window &w) {
    auto *frame = static_cast<Frame *>(view.widget.data());
    const QString title = QString::fromLocal8Bit(w.text.c_str());
    if (frame->windowTitle() != title) frame->setWindowTitle(title);
    if (!view.hasPlaced || !sameRect(view.placed, w.rect)) {
        view.placed = w.rect;
        view.hasPlaced = true;
        RECT client{};
        GetClientRect(view.window, &client);
        frame->move(w.rect.left, w.rect.top);
        frame->resize(client.right, client.bottom + frame->menuHeight());
    }
    frame->setEnabled(!(w.style & WS_DISABLED));
    const bool visible = w.style & WS_VISIBLE;
    if (!visible) {
        if (frame->isVisible()) frame->hide();
        return;
    }
    const bool minimized = w.style & WS_MINIMIZE;
    if (!frame->isVisible() || frame->isMinimized() != minimized) {
        if (minimized)
            frame->showMinimized();
        else
            frame->showNormal();
    }
}

void QtDisplay::syncFocus() {
    HWND focus = user::focus();
    if (focus == shownFocus_) return;
    shownFocus_ = focus;
    auto it = views_.find(focus);
    if (it == views_.end() || !it->second.widget) return;
    settingFocus_ = true;
    QWidget *top = it->second.widget->window();
    if (top->isVisible() && !top->isActiveWindow()) top->activateWindow();
    if (it->second.kind != ViewKind::Frame) it->second.widget->setFocus(Qt::OtherFocusReason);
    settingFocus_ = false;
}

// ---- Menus ---------------------------------------------------------------------------

namespace {

void fillMenu(QtDisplay &display, HWND window, QMenu *menu, HMENU source);

// A pop-up of the menu bar. Opening it is WM_INITMENU to the window, after
// which it shows the items as the program has just left them.
QMenu *newPopup(QtDisplay &display, HWND window, const QString &title, HMENU source, QWidget *parent) {
    auto *popup = new QMenu(title, parent);
    QObject::connect(popup, &QMenu::aboutToShow, popup, [&display, window, popup, source] {
        if (!IsWindow(window)) return;
        user::openMenu(window);
        display.refreshMenu(window, popup, source);
    });
    fillMenu(display, window, popup, source);
    return popup;
}

void fillMenu(QtDisplay &display, HWND window, QMenu *menu, HMENU source) {
    for (const user::MenuItemView &item : user::menuItems(source)) {
        const QString text = QString::fromLocal8Bit(item.text.c_str());
        const bool enabled = !(item.flags & (MF_GRAYED | MF_DISABLED));
        if (item.flags & MF_SEPARATOR || (item.text.empty() && !item.popup)) {
            menu->addSeparator();
        } else if (item.flags & MF_POPUP) {
            QMenu *sub = newPopup(display, window, text, item.popup, menu);
            sub->setEnabled(enabled);
            menu->addMenu(sub);
        } else {
            QAction *action = menu->addAction(text);
            action->setCheckable(item.flags & MF_CHECKED);
            action->setChecked(item.flags & MF_CHECKED);
            action->setEnabled(enabled);
            const UINT id = item.id;
            QObject::connect(action, &QAction::triggered, action, [&display, window, id] {
                display.act([window, id] { user::chooseMenuCommand(window, id); });
            });
        }
    }
}

}  // namespace

void QtDisplay::refreshMenu(HWND window, QMenu *menu, HMENU source) {
    // Called while the pop-up is about to show: the program has just had its
    // WM_INITMENU, so the items are rebuilt from the model as they now are.
    qDeleteAll(menu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly));
    menu->clear();
    fillMenu(*this, window, menu, source);
}

void QtDisplay::rebuildMenuBar(View &view) {
    auto *frame = static_cast<Frame *>(view.widget.data());
    const user::Window *w = user::find(view.window);
    HMENU menu = w ? w->menu : nullptr;
    // A pop-up that is showing is refreshed by its own opening; the bar is
    // rebuilt when no menu of it is open.
    if (view.menuBar)
        for (QAction *action : view.menuBar->actions())
            if (action->menu() && action->menu()->isVisible()) {
                menusDirty_ = true;
                return;
            }
    // Never called from inside one of the bar's own Qt handlers, so the old
    // bar can go at once.
    delete view.menuBar.data();
    view.menu = menu;
    if (menu) {
        auto *bar = new QMenuBar(frame);
        bar->setProperty(kWindowProperty, QVariant::fromValue(reinterpret_cast<quintptr>(view.window)));
        for (const user::MenuItemView &item : user::menuItems(menu)) {
            const QString text = QString::fromLocal8Bit(item.text.c_str());
            if (item.flags & MF_POPUP) {
                QMenu *popup = newPopup(*this, view.window, text, item.popup, bar);
                popup->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
                bar->addMenu(popup);
            } else if (!(item.flags & MF_SEPARATOR)) {
                QAction *action = bar->addAction(text);
                action->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
                HWND window = view.window;
                const UINT id = item.id;
                QObject::connect(action, &QAction::triggered, action, [this, window, id] {
                    act([window, id] { user::chooseMenuCommand(window, id); });
                });
            }
        }
        bar->show();
        view.menuBar = bar;
    }
    const int before = frame->menuHeight();
    frame->setParts(view.menuBar, view.client);
    if (frame->menuHeight() != before) view.hasPlaced = false;  // the frame grows or shrinks with its bar
}

}  // namespace plat::qt
