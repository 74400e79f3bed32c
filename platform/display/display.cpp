#include "display/display.h"

#include "core/session.h"

namespace plat {

void Display::poll() { wait(session().clock().now()); }

}  // namespace plat
