// The process start: one platform session for the program's run, on the
// real clock, with the display that can show its windows; then WinMain.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "core/session.h"
#include "display/display.h"
#include "resources/resources.h"
#if NOCTIL_WITH_QT
#include "display/qt/qt_display.h"
#endif

namespace {

// Real windows when Qt can reach a display. Without one the program would
// run unseen, so it says what it needs and does not start.
std::unique_ptr<plat::Display> chooseDisplay() {
#if NOCTIL_WITH_QT
    if (plat::qtDisplayAvailable()) return plat::makeQtDisplay();
    std::fprintf(stderr, "noctil: there is no display to show the windows on.\n%s", plat::displayHelp());
#else
    std::fprintf(stderr, "noctil: this build has no display for windows (configured with NOCTIL_WITH_QT=OFF).\n");
#endif
    return nullptr;
}

}  // namespace

int main() {
    std::unique_ptr<plat::Display> display = chooseDisplay();
    if (!display) return 2;
    plat::Session session(plat::SessionOptions{{}, false, std::move(display)});
    static char commandLine[] = "";
    return WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL);
}
