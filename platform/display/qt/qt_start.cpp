// Bringing Qt up for the display: the one application object, and a start
// that fails with a message and an exit status instead of an abort.
#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/qt/qt_display.h"
#include "display/qt/qt_display_impl.h"
#include "display/qt/vnc_listen.h"

namespace plat {

bool qtDisplayAvailable() {
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        if (const char *value = std::getenv(name); value && *value) return true;
    return false;
}

const char *displayHelp() {
    return "Start it from a desktop session (DISPLAY or WAYLAND_DISPLAY set), or on a machine\n"
           "without one:\n"
           "  xvfb-run noctil                 a virtual X display (nothing visible)\n"
           "  QT_QPA_PLATFORM=vnc noctil      a VNC server on port 5900 of this machine only;\n"
           "                                  reach it through an SSH tunnel (see noctil(1))\n";
}

std::unique_ptr<Display> makeQtDisplay() { return std::make_unique<qt::QtDisplay>(); }

}  // namespace plat

namespace plat::qt {

namespace {

// ---- Starting Qt -------------------------------------------------------------------------

std::vector<std::string> &startMessages() {
    static std::vector<std::string> messages;
    return messages;
}

// While the application object is made, Qt's complaints are kept; a fatal
// one (no platform could be opened: a display that refuses the connection)
// ends the process with a message of its own and exit status 2, as a start
// without any display does.
void startMessageHandler(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type != QtFatalMsg) {
        startMessages().push_back(message.toStdString());
        return;
    }
    const char *display = std::getenv("DISPLAY");
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform)
        std::fprintf(stderr, "noctil: the windows cannot be shown: Qt could not start its \"%s\" platform.\n",
                     platform);
    else if (display && *display)
        std::fprintf(stderr,
                     "noctil: the windows cannot be shown: the X display \"%s\" (DISPLAY) refused the connection\n"
                     "or is not running.\n",
                     display);
    else
        std::fprintf(stderr, "noctil: the windows cannot be shown: Qt could not open a display.\n");
    for (const std::string &line : startMessages()) std::fprintf(stderr, "  Qt: %s\n", line.c_str());
    std::fputs(displayHelp(), stderr);
    std::fflush(stderr);
    std::_Exit(2);
}

}  // namespace

// The one Qt application of the process. It outlives every session (tests
// run many) and is left to the process exit.
void ensureApplication() {
    if (QApplication::instance()) return;
    if (!prepareVncListen()) std::_Exit(2);
    static int argc = 1;
    static char name[] = "noctil";
    static char *argv[] = {name, nullptr};
    const QtMessageHandler previous = qInstallMessageHandler(startMessageHandler);
    auto *app = new QApplication(argc, argv);
    qInstallMessageHandler(previous);
    startMessages().clear();
    app->setQuitOnLastWindowClosed(false);
}

}  // namespace plat::qt
