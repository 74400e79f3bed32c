#include "display/qt/qt_display.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QSocketNotifier>
#include <QTimer>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "core/session.h"
#include "core/signals.h"
#include "display/qt/dib_image.h"
#include "display/qt/keys.h"
#include "display/qt/qt_display_impl.h"
#include "user/dialog_system.h"

namespace plat::qt {

namespace {

constexpr const char *kWindowProperty = "noctilWindow";

// When the X server goes away, Qt says so and calls exit() from inside its
// event processing. The wait that runs that processing leaves it here
// instead, so that the program can end as File > Exit does; Qt is not
// called again afterwards.
sigjmp_buf *displayLostJump = nullptr;
bool displayLost = false;
QtMessageHandler qtHandler = nullptr;

void onQtMessage(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (displayLostJump && text.startsWith(QLatin1String("The X11 connection broke"))) {
        std::fprintf(stderr, "noctil: %s\n", qPrintable(text));
        siglongjmp(*displayLostJump, 1);
    }
    if (qtHandler) qtHandler(type, context, text);
}

void watchForDisplayLoss() {
    static bool watching = false;
    if (watching) return;
    watching = true;
    qtHandler = qInstallMessageHandler(onQtMessage);
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
    void setTitleBar(QWidget *title) {
        title_ = title;
        layoutParts();
    }
    void setStatusLine(QWidget *status) {
        status_ = status;
        layoutParts();
    }
    int menuHeight() const { return bar_ && bar_->isVisible() ? bar_->sizeHint().height() : 0; }
    int titleHeight() const { return title_ ? title_->height() : 0; }
    int statusHeight() const { return status_ ? status_->sizeHint().height() : 0; }
    // What the frame adds above and below the client area.
    int extraHeight() const { return titleHeight() + menuHeight() + statusHeight(); }

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
        const int title = titleHeight();
        const int top = title + menuHeight();
        const int bottom = statusHeight();
        if (title_) title_->setGeometry(0, 0, width(), title);
        if (bar_) bar_->setGeometry(0, title, width(), top - title);
        if (client_) client_->setGeometry(0, top, width(), std::max(0, height() - top - bottom));
        if (status_) status_->setGeometry(0, std::max(top, height() - bottom), width(), bottom);
    }

    QtDisplay &display_;
    HWND window_;
    QPointer<QMenuBar> bar_;
    QPointer<QWidget> client_;
    QPointer<QWidget> title_;
    QPointer<QWidget> status_;
};

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

}  // namespace

QtDisplay::QtDisplay(std::unique_ptr<Display> pacer) : pacer_(std::move(pacer)) {
    ensureApplication();
    ownTitleBars_ = !windowManagerDecorates();
    // On the real clock the status line's times run on between the loop's
    // wake-ups; under a pacer each catching-up brings it to the virtual time.
    if (!pacer_) {
        statusTimer_ = std::make_unique<QTimer>();
        statusTimer_->setInterval(200);
        QObject::connect(statusTimer_.get(), &QTimer::timeout, statusTimer_.get(), [this] { refreshStatusLine(); });
        statusTimer_->start();
    }
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

bool displayLostNow() { return displayLost; }

QtDisplay::~QtDisplay() {
    if (displayLost) return;  // Qt is left as the lost display left it
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
            case user::Change::Painted: markPainted(window); break;
            case user::Change::Menu: menusDirty_ = true; break;
            default: structureDirty_ = true; break;
        }
    });
}

// Video-rate paints of one window mark it once; the list keeps its room.
void QtDisplay::markPainted(HWND window) {
    if (std::find(painted_.begin(), painted_.end(), window) == painted_.end()) painted_.push_back(window);
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
    if (displayLost) return;
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

namespace {

// Qt's wait for events wakes late by up to a thousandth of its length (the
// kernel's slack for timed polls), and whatever it handles just before the
// deadline (a paint) holds the due timer back. So it is asked to wake this
// much early, and the rest is slept to the deadline on the platform clock,
// whose sleep is as fine as the system offers.
constexpr Micros kFinalStretch = 3000;
Micros wakeLead(Micros left) { return kFinalStretch + left / 500; }

}  // namespace

// A signal that asks the program to end writes to a pipe; reading it wakes
// the wait, so that the message loop closes the main window at once.
void QtDisplay::watchTermination() {
    static QSocketNotifier *notifier = nullptr;
    if (notifier || terminationWakeFd() < 0) return;
    notifier = new QSocketNotifier(terminationWakeFd(), QSocketNotifier::Read);  // left to the process exit
    QObject::connect(notifier, &QSocketNotifier::activated, [] { drainTerminationWake(); });
}

void QtDisplay::wait(std::optional<Micros> deadline) {
    if (displayLost) {
        // Only the program's own timers are left to wait for.
        if (deadline && !terminationSignal()) session().clock().sleepUntil(*deadline);
        return;
    }
    guardAgainstDisplayLoss(&QtDisplay::waitForEvents, deadline);
}

// Runs one step of Qt's event handling so that a broken X connection, which
// Qt reports as fatal from anywhere inside it, ends the program like File >
// Exit instead of aborting it.
void QtDisplay::guardAgainstDisplayLoss(void (QtDisplay::*step)(std::optional<Micros>),
                                        std::optional<Micros> deadline) {
    sigjmp_buf lost;
    if (sigsetjmp(lost, 0)) {
        displayLostJump = nullptr;
        displayLost = true;
        requestTermination(SIGHUP);
        return;
    }
    watchForDisplayLoss();
    displayLostJump = &lost;
    (this->*step)(deadline);
    displayLostJump = nullptr;
}

void QtDisplay::waitForEvents(std::optional<Micros> deadline) {
    subscribeOnce();
    acted_ = false;
    Clock &clock = session().clock();
    const auto roomToShow = [&] { return !deadline || *deadline - clock.now() > kFinalStretch; };
    if (pacer_ || roomToShow()) sync();
    if (pacer_) {
        QApplication::processEvents();
        if (runActions() || acted_) return;
        pacer_->wait(deadline);
        QApplication::processEvents();
        runActions();
        return;
    }
    // The loop and its wake-up timer are kept from wait to wait.
    if (!eventLoop_) {
        eventLoop_ = std::make_unique<QEventLoop>();
        wakeTimer_ = std::make_unique<QTimer>();
        wakeTimer_->setSingleShot(true);
        wakeTimer_->setTimerType(Qt::PreciseTimer);
    }
    watchTermination();
    for (;;) {
        if (runActions() || acted_ || terminationSignal()) return;
        std::optional<Micros> wake;
        if (deadline) {
            const Micros left = *deadline - clock.now();
            if (left <= 0) return;
            if (left <= wakeLead(left) + 1000) {
                clock.sleepUntil(*deadline);
                return;
            }
            wake = left - wakeLead(left);
        }
        if (wake) wakeTimer_->start(static_cast<int>(*wake / 1000));
        eventLoop_->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        wakeTimer_->stop();
        if ((structureDirty_ || !painted_.empty() || menusDirty_) && roomToShow()) sync();
    }
}

// What a person did while the loop was busy, without showing the model
// anew: the loop is about to hand out a timer message that is already due.
void QtDisplay::poll() {
    if (displayLost) return;
    guardAgainstDisplayLoss(&QtDisplay::pollEvents, std::nullopt);
}

void QtDisplay::pollEvents(std::optional<Micros>) {
    subscribeOnce();
    QApplication::processEvents();
    if (pacer_) {
        pacer_->poll();
        QApplication::processEvents();
    }
    runActions();
}

// ---- Bringing the widgets up to date -----------------------------------------------

void QtDisplay::sync() {
    if (displayLost) return;
    subscribeOnce();
    // What a person has just done goes to the model first, so that showing
    // the model does not undo it (an edit box's typed text).
    runActions();
    // A wake-up for a new video frame alone shows the frame: the status line
    // keeps to its own timer then, as it does between wake-ups.
    const bool reshaped = pacer_ || structureDirty_ || menusDirty_;
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
        for (auto &[window, view] : views_) view.toolbarRevision = 0;  // a style may have changed
    }
    for (auto &[window, view] : views_) updateView(view);
    fitDialogs();
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
    focusMainWindowOnce();
    syncFocus();
    if (reshaped) refreshStatusLine();
    // Qt defers some deletions to its event loop, which never runs as a
    // whole here (the window system's loop does): carry them out now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A new dialog, once its controls show their texts: one font for all of
// them, and a message box grown to its text. A message box's window sits in
// the message box log while it is open.
void QtDisplay::fitDialogs() {
    bool resized = false;
    for (auto &[window, view] : views_) {
        if (view.kind != ViewKind::Frame || view.fitted) continue;
        view.fitted = true;
        if (!user::isDialog(window)) continue;
        applyDialogFont(view.client, window);
        for (const user::MessageBoxRecord &box : user::messageBoxes())
            if (box.window == window) {
                fitMessageBox(*this, window);
                resized = true;
            }
    }
    if (!resized) return;
    for (auto &[window, view] : views_) updateView(view);
}

void QtDisplay::createView(HWND window) {
    const user::Window *w = user::find(window);
    if (!w) return;
    View &view = views_[window];
    view.window = window;
    if (!(w->style & WS_CHILD)) {
        QWidget *owner = w->owner ? widgetOf(w->owner) : nullptr;
        const bool titled = (w->style & WS_CAPTION) == WS_CAPTION;
        auto *frame = new Frame(*this, window, frameFlags(*w, ownTitleBars_), owner);
        view.kind = ViewKind::Frame;
        view.widget = frame;
        view.client = new Surface(view, frame);
        frame->setParts(nullptr, view.client);
        if (ownTitleBars_ && titled) {
            view.titleBar = makeTitleBar(*this, window, frame);
            frame->setTitleBar(view.titleBar);
        }
        rebuildMenuBar(view);
        // The main window: the first window of its own with a menu bar.
        if (!statusWindow_ && !w->owner && w->menu && !user::isDialog(window)) addStatusLine(view);
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
    if (user::paintSurface(window)) markPainted(window);
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
        shownActive_ = nullptr;
        if (minimized)
            frame->showMinimized();
        else
            frame->showNormal();
    }
}

// Keeps a top-level window within the screen's available area. The model
// window moves with it, so dialogs centred on it and the program's own
// positions agree with what is shown.
void QtDisplay::placeOnScreen(View &view, const user::Window &w) {
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

void QtDisplay::addStatusLine(View &view) {
    auto *frame = static_cast<Frame *>(view.widget.data());
    auto *line = new QLabel(frame);
    line->setObjectName("noctilStatusLine");
    line->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    line->setContentsMargins(4, 1, 4, 1);
    line->setTextFormat(Qt::PlainText);
    line->setAutoFillBackground(true);
    line->setText(" \n ");  // two rows from the start: the frame keeps its height
    view.statusLine = line;
    statusWindow_ = view.window;
    frame->setStatusLine(line);
    line->show();
}

QLabel *QtDisplay::statusLineOf(HWND window) const {
    auto it = views_.find(window);
    return it == views_.end() ? nullptr : it->second.statusLine.data();
}

void QtDisplay::refreshStatusLine() {
    if (!statusWindow_ || !hasSession()) return;
    auto it = views_.find(statusWindow_);
    if (it == views_.end() || !it->second.statusLine || !user::find(statusWindow_)) return;
    QLabel *line = it->second.statusLine;
    // Two rows: the camera, then where the images go; the whole as a tooltip
    // for a window too narrow to show a long file name.
    // The facts, the line and its text keep their room from refresh to
    // refresh; Qt hears of the text only when it changed.
    statusWatcher_.gather(statusWindow_, statusFacts_);
    status::Line &shown = statusLine_;
    status::compose(statusFacts_, shown);
    statusText_ = shown.camera;
    statusText_ += '\n';
    statusText_ += shown.output.empty() ? " " : shown.output;
    if (statusText_ != statusShownText_) {
        statusShownText_ = statusText_;
        const QString text = QString::fromLocal8Bit(statusText_.c_str());
        if (line->text() != text) {
            line->setText(text);
            line->setToolTip(QString::fromLocal8Bit(shown.text.c_str()));
        }
    }
    // The style's palette is built anew on every request: its ink is asked
    // for once.
    if (!statusInk_.isValid()) statusInk_ = line->style()->standardPalette().color(QPalette::WindowText);
    const QColor ink = shown.warning ? QColor(176, 0, 0) : statusInk_;
    QPalette palette = line->palette();
    if (palette.color(QPalette::WindowText) != ink) {
        palette.setColor(QPalette::WindowText, ink);
        line->setPalette(palette);
    }
}

// The program shows its snapshot window after the main window, which leaves
// the snapshot window active and the menus' keys without effect until a
// click. The first time the main window shows, the display gives it the
// keys, as a person's click on it would.
void QtDisplay::focusMainWindowOnce() {
    if (mainFocused_ || !statusWindow_) return;
    const user::Window *w = user::find(statusWindow_);
    if (!w || !(w->style & WS_VISIBLE) || (w->style & WS_DISABLED)) return;
    mainFocused_ = true;
    if (!user::isDescendant(user::focus(), statusWindow_)) user::activate(statusWindow_);
}

void QtDisplay::syncFocus() {
    // The window the model has active is the one that takes the keys, also
    // right after start, when the window shown last would otherwise have them.
    if (HWND active = user::activeWindow(); active != shownActive_) {
        auto it = views_.find(active);
        QWidget *frame = it == views_.end() ? nullptr : it->second.widget.data();
        if (frame && frame->isVisible()) {
            shownActive_ = active;
            settingFocus_ = true;
            if (!frame->isActiveWindow()) frame->activateWindow();
            if (ownTitleBars_) frame->raise();  // without a window manager nobody else does
            settingFocus_ = false;
        }
    }
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

namespace plat {

bool qtDisplayLost() { return qt::displayLostNow(); }

}  // namespace plat
