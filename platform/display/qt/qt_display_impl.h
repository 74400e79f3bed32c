// The Qt display's inside, for its own files, its tests and screenshots.
//
// Every model window that exists has a view (view.h). The model's observers
// only mark what changed; the widgets are brought up to date when the
// message loop waits, never from inside a window procedure. What a person
// does in a widget is queued as an action and run, through the window
// system's own functions, when Qt's event processing has returned.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "display/display.h"
#include "display/qt/event_wait.h"
#include "display/qt/focus.h"
#include "display/qt/view.h"
#include "user/window_system.h"

class QLabel;
class QMenuBar;

namespace plat::qt {

class QtDisplay final : public Display, private WaitClient {
public:
    // Without a pacer the display waits on the real clock. With one (tests
    // on the virtual clock), Qt's pending events are processed without
    // blocking and the pacer decides how time moves and runs the script.
    explicit QtDisplay(std::unique_ptr<Display> pacer = nullptr);
    ~QtDisplay() override;

    void wait(std::optional<Micros> deadline) override;
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
    HWND windowOf(const QWidget *widget) const { return taggedWindow(widget); }
    // The view of a window, or null.
    const View *viewOf(HWND window) const;
    unsigned beeps() const { return beeps_; }

    // True when the display draws the title bars itself: no window manager
    // decorates the windows (VNC, offscreen, a bare X server).
    bool drawsTitleBars() const { return ownTitleBars_; }
    // The status line under the main window, or null.
    QLabel *statusLineOf(HWND window) const;
    // Brings the status line up to date with the platform clock.
    void refreshStatusLine();

    FocusSync &focus() { return focus_; }

private:
    void subscribeOnce();
    void markPainted(HWND window);
    void waitForEvents(std::optional<Micros> deadline);
    void pollEvents();
    void createView(HWND window);
    void updateView(View &view);
    void showPainted();
    void fitDialogs();

    // The wait on the real clock.
    bool hasWork() override;
    void showChanges() override;

    std::unique_ptr<Display> pacer_;
    std::map<HWND, View> views_;
    int observer_ = 0;
    bool structureDirty_ = true;
    bool menusDirty_ = true;
    std::vector<HWND> painted_;  // windows painted since the last showing
    std::vector<std::function<void()>> actions_;
    bool acted_ = false;  // actions ran during this wait: the loop has work
    bool ownTitleBars_ = false;
    HWND mainWindow_ = nullptr;  // its frame carries the status line
    EventWait eventWait_;
    FocusSync focus_;
    unsigned beeps_ = 0;
};

// Makes the process's Qt application on first use (qt_start.cpp).
void ensureApplication();

}  // namespace plat::qt
