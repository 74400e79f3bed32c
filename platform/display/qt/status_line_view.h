// The status line under the main window: two rows, the camera and then
// where the images go, composed from the platform's facts (status_line.h);
// the whole line as a tooltip for a window too narrow to show a long file
// name. The main window's frame owns it.
#pragma once

#include <windows.h>

#include <QColor>
#include <QLabel>

#include <memory>
#include <string>

#include "display/status_line.h"

class QTimer;

namespace plat::qt {

class StatusLineView final : public QLabel {
public:
    // With `ownTimer` (the real clock) the line's times run on between the
    // loop's wake-ups; under a pacer each catching-up refreshes it.
    StatusLineView(QWidget *frame, HWND mainWindow, bool ownTimer);
    ~StatusLineView() override;

    // Brings the line up to date with the platform clock.
    void refresh();

private:
    HWND window_;
    // The facts, the line and its text keep their room from refresh to
    // refresh; Qt hears of the text only when it changed.
    status::Watcher watcher_;
    status::Facts facts_;
    status::Line line_;
    std::string text_, shownText_;  // the label's text now, and as Qt was last given it
    QColor ink_;                    // the ink while nothing is wrong
    std::unique_ptr<QTimer> timer_;
};

}  // namespace plat::qt
