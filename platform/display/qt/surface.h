// The client area of a window: what was painted on it, over its background.
#pragma once

#include <QWidget>

#include "display/qt/view.h"

namespace plat::qt {

class Surface final : public QWidget {
public:
    Surface(View &view, QWidget *parent);

    // Draws the window's newest paint onto the kept canvas and shows it;
    // nothing when the canvas already holds it.
    void showPaint(const user::PaintSurface &paint);

protected:
    void paintEvent(QPaintEvent *) override;

private:
    View &view_;
};

// The surface view of a child window that is no control (the capture window).
void createSurface(QtDisplay &display, View &view, const user::Window &w, QWidget *parent);

}  // namespace plat::qt
