#include <algorithm>

#include "display/qt/placement.h"

namespace plat::qt {

QPoint placeWithin(QPoint wanted, QSize size, QRect available) {
    const int x = std::min(wanted.x(), available.x() + available.width() - size.width());
    const int y = std::min(wanted.y(), available.y() + available.height() - size.height());
    return QPoint(std::max(x, available.x()), std::max(y, available.y()));
}

}  // namespace plat::qt
