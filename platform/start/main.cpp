// The process start: --help and --version answered without starting, the
// camera port put to rest before anything else, the
// signal handlers that keep it from being left integrating, one platform
// session for the program's run on the real clock with the display that can
// show its windows, the lock that tells a second Noctil on the same root of
// this one; then WinMain.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "core/notices.h"
#include "core/session.h"
#include "core/signals.h"
#include "display/display.h"
#include "files/instance_lock.h"
#include "module_resources.h"
#include "observers/program_session.h"
#include "port/parallel_port.h"
#include "profile/ini_file.h"
#include "resources/resources.h"
#include "start/arguments.h"
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

int main(int argc, char **argv) {
    const char *const *args = argv;
    const std::span<const char *const> arguments(args + (argc > 0 ? 1 : 0), argc > 1 ? argc - 1 : 0);
    if (const plat::StartAnswer answer = plat::answerCommandLine(arguments, stdout, stderr); !answer.run)
        return answer.exitStatus;

    static plat::SignalHandlers signalHandlers;

    // A run that ended by SIGKILL or a power cut may have left the camera
    // integrating: the lines go to rest before the display is even looked for.
    std::vector<plat::PortFailure> portFailures;
    const std::filesystem::path systemIni = plat::systemIni(plat::defaultRoot());
    auto portBackend =
        plat::makeConfiguredPortBackend({systemIni.string(), plat::readIniSection(systemIni, "parallel")},
                                        [&portFailures](const plat::PortFailure &f) { portFailures.push_back(f); });
    portBackend->write(plat::ParallelPort::kDataRegister, 0x00);

    std::unique_ptr<plat::Display> display = chooseDisplay();
    if (!display) {
        for (const plat::PortFailure &f : portFailures)
            std::fprintf(stderr, "noctil: camera port %s: %s (%s)\n", f.device.c_str(), f.reason.c_str(),
                         f.detail.c_str());
        return 2;
    }
    const std::unique_ptr<plat::Session> session = plat::makeProgramSession(
        {plat::SessionOptions{{}, false, std::move(display)}, programResourceFile(), std::move(portBackend),
         std::move(portFailures)});
    // A port that cannot be used is told before the program's windows open.
    session->component<plat::ParallelPort>().postPendingFailure();
    plat::showPostedNotices();
    // Held until the process ends: a second Noctil on this root is told of
    // this one, once its windows are open.
    const std::unique_ptr<plat::InstanceLock> instance = plat::takeInstanceLock(*session);
    static char commandLine[] = "";
    const int exitCode = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL);
#if NOCTIL_WITH_QT
    // The program has ended as File > Exit ends it; Qt, left in the middle of
    // its event processing when the X server went away, is not torn down.
    if (plat::qtDisplayLost()) {
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
#endif
    return exitCode;
}
