#include "display/qt/surface.h"

#include <QPainter>

#include "display/qt/dib_image.h"

namespace plat::qt {

namespace {

// What the window's class paints its background with: the window colour.
QColor windowBackground() { return QColor(255, 255, 255); }

}  // namespace

Surface::Surface(View &view, QWidget *parent) : QWidget(parent), view_(view) { setAttribute(Qt::WA_OpaquePaintEvent); }

void Surface::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    if (view_.canvas.isNull())
        painter.fillRect(rect(), windowBackground());
    else
        painter.drawImage(0, 0, view_.canvas);
}

void Surface::showPaint(const user::PaintSurface &paint) {
    if (paint.serial == view_.serial) return;
    view_.serial = paint.serial;
    if (view_.canvas.size() != size() || view_.canvas.isNull()) {
        view_.canvas = QImage(size().expandedTo(QSize(1, 1)), QImage::Format_RGB32);
        view_.canvas.fill(windowBackground());
    }
    drawSurface(view_.canvas, paint);
    update();
}

void createSurface(QtDisplay &, View &view, const user::Window &, QWidget *parent) {
    view.widget = view.client = new Surface(view, parent);
}

}  // namespace plat::qt
