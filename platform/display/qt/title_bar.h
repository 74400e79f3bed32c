// The bar the display draws on top of a frame when no window manager does:
// the title, a close box when the window has one, dragging moves the window.
#pragma once

#include <windows.h>

#include <QString>
#include <QWidget>

namespace plat::qt {

class QtDisplay;

QWidget *makeTitleBar(QtDisplay &display, HWND window, QWidget *frame);
void updateTitleBar(QWidget *bar, const QString &title);
// True when a window manager decorates top-level windows on this platform.
bool windowManagerDecorates();

}  // namespace plat::qt
