// The display with real windows, over Qt 6 Widgets. The process start picks
// it when Qt has somewhere to show windows; nothing else knows it is there.
#pragma once

#include <memory>

#include "display/display.h"

namespace plat {

// True when Qt can open a display: a desktop session (DISPLAY or
// WAYLAND_DISPLAY set) or a Qt platform named in QT_QPA_PLATFORM (offscreen,
// vnc ...).
bool qtDisplayAvailable();

// How to start the program where there is no display to use, for the
// messages of a start that cannot show its windows.
const char *displayHelp();

// The Qt display on the real clock: wait() runs Qt's event processing until a
// person acts or the deadline passes. Creates the Qt application object on
// first use.
std::unique_ptr<Display> makeQtDisplay();

// True once the window system went away under the display (the X server
// ended). The display then asks the program to end as File > Exit does and
// shows nothing more; Qt is not to be torn down.
bool qtDisplayLost();

}  // namespace plat
