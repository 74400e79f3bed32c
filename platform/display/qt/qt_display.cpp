// The Qt display: waiting, and bringing the widgets up to date with the
// window model when the loop waits. The views, menus, focus and status line
// are each in a file of their own.
#include "display/qt/qt_display.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QMenuBar>

#include <algorithm>

#include "core/session.h"
#include "core/signals.h"
#include "display/qt/dialog_fit.h"
#include "display/qt/display_loss.h"
#include "display/qt/frame.h"
#include "display/qt/menus.h"
#include "display/qt/qt_display_impl.h"
#include "display/qt/status_line_view.h"
#include "display/qt/surface.h"
#include "display/qt/title_bar.h"
#include "user/dialog_system.h"

namespace plat::qt {

QtDisplay::QtDisplay(std::unique_ptr<Display> pacer) : pacer_(std::move(pacer)), focus_(*this) {
    ensureApplication();
    ownTitleBars_ = !windowManagerDecorates();
    focus_.followQt();
}

QtDisplay::~QtDisplay() {
    if (displayLostNow()) return;  // Qt is left as the lost display left it
    // The session has already let go of the window model: only widgets here.
    focus_.disconnect();
    for (auto &[window, view] : views_)
        if (view.isFrame() && view.widget) delete view.widget.data();
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
    if (displayLostNow()) return;
    QApplication::beep();
}

const View *QtDisplay::viewOf(HWND window) const {
    auto it = views_.find(window);
    return it == views_.end() ? nullptr : &it->second;
}

QWidget *QtDisplay::widgetOf(HWND window) const {
    const View *view = viewOf(window);
    return view ? view->widget.data() : nullptr;
}

QMenuBar *QtDisplay::menuBarOf(HWND window) const {
    const View *view = viewOf(window);
    return view ? view->menuBar.data() : nullptr;
}

QLabel *QtDisplay::statusLineOf(HWND window) const {
    const View *view = viewOf(window);
    Frame *frame = view ? frameOf(*view) : nullptr;
    return frame ? frame->statusLine() : nullptr;
}

void QtDisplay::refreshStatusLine() {
    if (!mainWindow_) return;
    const View *view = viewOf(mainWindow_);
    Frame *frame = view ? frameOf(*view) : nullptr;
    if (StatusLineView *line = frame ? frame->statusLine() : nullptr) line->refresh();
}

// ---- Waiting -------------------------------------------------------------------------

void QtDisplay::wait(std::optional<Micros> deadline) {
    if (displayLostNow()) {
        // Only the program's own timers are left to wait for.
        if (deadline && !terminationSignal()) session().clock().sleepUntil(*deadline);
        return;
    }
    guardAgainstDisplayLoss([&] { waitForEvents(deadline); });
}

void QtDisplay::waitForEvents(std::optional<Micros> deadline) {
    subscribeOnce();
    acted_ = false;
    if (pacer_ || EventWait::roomToShow(deadline)) sync();
    if (pacer_) {
        QApplication::processEvents();
        if (runActions() || acted_) return;
        pacer_->wait(deadline);
        QApplication::processEvents();
        runActions();
        return;
    }
    eventWait_.run(*this, deadline);
}

bool QtDisplay::hasWork() { return runActions() || acted_; }

void QtDisplay::showChanges() {
    if (structureDirty_ || !painted_.empty() || menusDirty_) sync();
}

// What a person did while the loop was busy, without showing the model
// anew: the loop is about to hand out a timer message that is already due.
void QtDisplay::poll() {
    if (displayLostNow()) return;
    guardAgainstDisplayLoss([&] { pollEvents(); });
}

void QtDisplay::pollEvents() {
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
    if (displayLostNow()) return;
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
            if (it->second.isFrame() && it->second.widget) delete it->second.widget.data();
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
            if (view.isFrame() && !rebuildMenuBar(*this, view)) menusDirty_ = true;
    }
    showPainted();
    focus_.focusMainWindowOnce(mainWindow_);
    focus_.show();
    if (reshaped) refreshStatusLine();
    // Qt defers some deletions to its event loop, which never runs as a
    // whole here (the window system's loop does): carry them out now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void QtDisplay::showPainted() {
    for (HWND window : painted_) {
        auto it = views_.find(window);
        const user::PaintSurface *paint = user::paintSurface(window);
        if (it == views_.end() || !paint) continue;
        if (auto *surface = dynamic_cast<Surface *>(it->second.client.data())) surface->showPaint(*paint);
    }
    painted_.clear();
}

// A new dialog, once its controls show their texts: one font for all of
// them, and a message box grown to its text. A message box's window sits in
// the message box log while it is open.
void QtDisplay::fitDialogs() {
    bool resized = false;
    for (auto &[window, view] : views_) {
        if (!view.isFrame() || view.fitted) continue;
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

namespace {

// The main window: the first window of its own with a menu bar, which gets
// the status line.
bool isMainWindow(const user::Window &w) {
    return !(w.style & WS_CHILD) && !w.owner && w.menu && !user::isDialog(w.handle);
}

}  // namespace

void QtDisplay::createView(HWND window) {
    const user::Window *w = user::find(window);
    if (!w) return;
    const ViewKind kind = viewKindOf(*w);
    QWidget *parent = nullptr;
    if (w->style & WS_CHILD) {
        const View *parentView = viewOf(w->parent);
        if (!parentView || !parentView->client) return;
        parent = parentView->client;
    } else if (w->owner) {
        parent = widgetOf(w->owner);
    }
    View &view = views_[window];
    view.window = window;
    view.kind = kind;
    viewType(kind).create(*this, view, *w, parent);
    if (!mainWindow_ && isMainWindow(*w)) {
        mainWindow_ = window;
        frameOf(view)->addStatusLine(!pacer_);
    }
    tagWithWindow(view.widget, window);
    if (user::paintSurface(window)) markPainted(window);
}

void QtDisplay::updateView(View &view) {
    const user::Window *w = user::find(view.window);
    if (!w || !view.widget) return;
    viewType(view.kind).update(*this, view, *w);
}

}  // namespace plat::qt
