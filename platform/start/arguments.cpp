#include "start/arguments.h"

#include <cstring>
#include <filesystem>
#include <string>

#include "core/session.h"
#include "noctil_version.h"

namespace plat {

namespace {

// The usage names the files under the root this environment gives, so that
// a user sees where the settings of this very start would be.
void printUsage(std::FILE *out) {
    const std::string root = defaultRoot().string();
    std::fprintf(out,
                 "usage: noctil [--help | --version]\n"
                 "\n"
                 "Noctil takes long exposures with a modified video camera: it holds the camera in\n"
                 "integration through the parallel port's data lines (or a serial port's DTR and\n"
                 "RTS), picks the frame that carries the image from the video and appends each\n"
                 "image to an uncompressed AVI file, with an image log beside it. Everything is\n"
                 "set in its windows; it takes no other options.\n"
                 "\n"
                 "Files (under the platform root %s):\n"
                 "  %s/windows/Noctil.ini   the program's settings\n"
                 "  %s/windows/system.ini   the camera port backend and the capture drivers\n"
                 "  %s/drives/c/            drive C:, where the images and their logs go\n"
                 "\n"
                 "Environment:\n"
                 "  NOCTIL_ROOT       the platform root (default: ~/Noctil)\n"
                 "  DISPLAY           the X display to open the windows on (or WAYLAND_DISPLAY)\n"
                 "  QT_QPA_PLATFORM   another way to show them: vnc serves them over VNC on port\n"
                 "                    5900 of this machine only; without any display, start it\n"
                 "                    as xvfb-run noctil\n"
                 "\n"
                 "See noctil(1); noctil-convert(1) turns the images into FITS or SER files.\n",
                 root.c_str(), root.c_str(), root.c_str(), root.c_str());
}

}  // namespace

StartAnswer answerCommandLine(std::span<const char *const> arguments, std::FILE *out, std::FILE *err) {
    if (arguments.empty()) return {true, 0};
    for (const char *a : arguments) {
        if (std::strcmp(a, "--help") != 0 && std::strcmp(a, "-h") != 0 && std::strcmp(a, "--version") != 0) {
            std::fprintf(err, "noctil: unknown %s '%s' (noctil takes only --help and --version)\n",
                         a[0] == '-' ? "option" : "argument", a);
            return {false, 2};
        }
    }
    const char *first = arguments.front();
    if (std::strcmp(first, "--version") == 0)
        std::fprintf(out, "noctil %s\n", NOCTIL_VERSION);
    else
        printUsage(out);
    return {false, std::fflush(out) == 0 ? 0 : 1};
}

}  // namespace plat
