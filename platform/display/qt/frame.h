// A top-level window: its title bar (where the display draws one), menu
// bar, client area and, for the main window, the status line it owns. The
// close box, keys and a person's resizing go to the window system as
// actions.
#pragma once

#include <windows.h>

#include <QPointer>
#include <QWidget>

#include "display/qt/status_line_view.h"
#include "display/qt/view.h"

class QMenuBar;

namespace plat::qt {

class Frame final : public QWidget {
public:
    Frame(QtDisplay &display, HWND window, Qt::WindowFlags flags, QWidget *owner);

    void setParts(QMenuBar *bar, QWidget *client);
    void setTitleBar(QWidget *title);
    // The main window's status line, made by and owned by its frame.
    StatusLineView *addStatusLine(bool ownTimer);
    StatusLineView *statusLine() const { return status_; }

    int menuHeight() const;
    int titleHeight() const { return title_ ? title_->height() : 0; }
    int statusHeight() const;
    // What the frame adds above and below the client area.
    int extraHeight() const { return titleHeight() + menuHeight() + statusHeight(); }

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void layoutParts();

    QtDisplay &display_;
    HWND window_;
    QPointer<QMenuBar> bar_;
    QPointer<QWidget> client_;
    QPointer<QWidget> title_;
    QPointer<StatusLineView> status_;
};

// The frame of a top-level window, its title bar and menu bar; and keeping
// its title, size, place and visibility those of the model window.
void createFrame(QtDisplay &display, View &view, const user::Window &w, QWidget *owner);
void updateFrame(QtDisplay &display, View &view, const user::Window &w);

// The frame of a frame's view.
inline Frame *frameOf(const View &view) { return view.isFrame() ? static_cast<Frame *>(view.widget.data()) : nullptr; }

}  // namespace plat::qt
