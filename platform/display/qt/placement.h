// Where a top-level window goes on its screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

namespace plat::qt {

// Where a top-level window of `size` (its decorations included) goes so it
// lies within the screen's available area: as near as possible to `wanted`,
// its top-left corner on the screen when it is larger than the area.
QPoint placeWithin(QPoint wanted, QSize size, QRect available);

}  // namespace plat::qt
