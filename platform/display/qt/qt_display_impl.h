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

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "display/display.h"
#include "display/status_line.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

class QEventLoop;
class QLabel;
class QMenu;
class QMenuBar;
class QTimer;

namespace plat::qt {

enum class ViewKind { Frame, Surface, PushButton, CheckBox, Edit, Combo, Label, Icon, Group, Toolbar };

struct View {
    HWND window = nullptr;
    ViewKind kind = ViewKind::Surface;
    QPointer<QWidget> widget;  // the frame, or the control itself
    QPointer<QWidget> client;  // where child windows go and painting shows
    QPointer<QMenuBar> menuBar;
    QPointer<QWidget> titleBar;   // frames where no window manager draws one
    QPointer<QLabel> statusLine;  // the main window's frame
    HMENU menu = nullptr;  // the menu the bar was built from
    QImage canvas;         // the client area's pixels, kept between paints
    std::uint64_t serial = 0;
    RECT placed{};  // the model rectangle last given to the widget
    bool hasPlaced = false;
    int toolbarButtons = -1;  // toolbars: the buttons the widget was built for
    std::uint64_t toolbarRevision = 0;  // toolbars: the state the widget shows (0: none yet)
    std::optional<std::string> shownTitle;  // frames: the title the widget shows
    bool fitted = false;      // frames: looked at once (a dialog: font chosen, message box sized to its text)
};

// The X server went away under the display (see qtDisplayLost).
bool displayLostNow();

class QtDisplay final : public Display {
public:
    // Without a pacer the display waits on the real clock. With one (tests
    // on the virtual clock), Qt's pending events are processed without
    // blocking and the pacer decides how time moves and runs the script.
    explicit QtDisplay(std::unique_ptr<Display> pacer = nullptr);
    ~QtDisplay() override;

    void wait(std::optional<Micros> deadline) override;
    void watchTermination();
    void waitForEvents(std::optional<Micros> deadline);
    void pollEvents(std::optional<Micros> unused);
    void guardAgainstDisplayLoss(void (QtDisplay::*step)(std::optional<Micros>),
                                 std::optional<Micros> deadline);
    void poll() override;
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

    // True when the display draws the title bars itself: no window manager
    // decorates the windows (VNC, offscreen, a bare X server).
    bool drawsTitleBars() const { return ownTitleBars_; }
    // The status line under the main window, or null.
    QLabel *statusLineOf(HWND window) const;
    // Brings the status line up to date with the platform clock.
    void refreshStatusLine();

private:
    void subscribeOnce();
    void markPainted(HWND window);
    void createView(HWND window);
    void updateView(View &view);
    void updateFrame(View &view, const user::Window &w);
    void rebuildMenuBar(View &view);
    void syncFocus();
    void focusMainWindowOnce();
    void placeOnScreen(View &view, const user::Window &w);
    void fitDialogs();
    void addStatusLine(View &view);

    std::unique_ptr<Display> pacer_;
    QMetaObject::Connection focusConnection_;
    std::map<HWND, View> views_;
    int observer_ = 0;
    bool structureDirty_ = true;
    bool menusDirty_ = true;
    std::vector<HWND> painted_;  // windows painted since the last showing
    std::vector<std::function<void()>> actions_;
    bool acted_ = false;  // actions ran during this wait: the loop has work
    HWND shownFocus_ = nullptr;
    HWND shownActive_ = nullptr;
    bool ownTitleBars_ = false;
    HWND statusWindow_ = nullptr;  // the main window: its frame carries the status line
    bool mainFocused_ = false;
    status::Watcher statusWatcher_;
    status::Facts statusFacts_;
    status::Line statusLine_;
    std::string statusText_, statusShownText_;  // the label's text now, and as Qt was last given it
    QColor statusInk_;  // the status line's ink while nothing is wrong
    std::unique_ptr<QTimer> statusTimer_;
    std::unique_ptr<QEventLoop> eventLoop_;  // the wait's, kept between waits
    std::unique_ptr<QTimer> wakeTimer_;
    bool settingFocus_ = false;
    unsigned beeps_ = 0;
};

// Makes the process's Qt application on first use (qt_start.cpp).
void ensureApplication();

// Views of dialog controls and the toolbar (qt_controls.cpp).
ViewKind controlKind(const user::Window &w);
QWidget *createControl(QtDisplay &display, View &view, const user::Window &w, QWidget *parent);
void updateControl(QtDisplay &display, View &view, const user::Window &w);
// One font for every control of a dialog: the face Qt has, at the size whose
// cell matches the dialog's base units, so the templates look as laid out.
QFont dialogFont(const user::BaseUnits &units);
void applyDialogFont(QWidget *client, HWND window);
// Grows a message box until its text shows whole (qt_controls.cpp).
void fitMessageBox(QtDisplay &display, HWND box);

// Where a top-level window of `size` (its decorations included) goes so it
// lies within the screen's available area: as near as possible to `wanted`,
// its top-left corner on the screen when it is larger than the area.
QPoint placeWithin(QPoint wanted, QSize size, QRect available);

// The bar the display draws on top of a frame when no window manager does:
// the title, a close box when the window has one, dragging moves the window
// (title_bar.cpp).
QWidget *makeTitleBar(QtDisplay &display, HWND window, QWidget *frame);
void updateTitleBar(QWidget *bar, const QString &title);
// True when a window manager decorates top-level windows on this platform.
bool windowManagerDecorates();

}  // namespace plat::qt
