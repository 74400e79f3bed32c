// The menu bar of a frame and its pop-ups, built from the model's menus.
// Opening a pop-up is WM_INITMENU to the window, after which the pop-up is
// rebuilt so it shows the items as the program has just left them; choosing
// an item is the window system's menu command.
#pragma once

#include "display/qt/view.h"

namespace plat::qt {

// Builds the frame's bar anew from its window's menu. False when a pop-up of
// the bar is open: it is refreshed by its own opening and the bar is to be
// rebuilt later.
bool rebuildMenuBar(QtDisplay &display, View &view);

}  // namespace plat::qt
