// Bringing Qt up for the display: the one application object, a start that
// fails with a message and an exit status instead of an abort, and the VNC
// server kept to this machine unless the user names another address.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/qt/qt_display.h"
#include "display/qt/qt_display_impl.h"

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

// ---- The VNC server's address ----------------------------------------------------------

// Qt's VNC platform listens on every interface and takes no address. The
// display therefore watches the one bind of the server's port and puts it on
// the address it should have: the loopback address, or the one the user
// named with addr=... among the platform's arguments.
struct VncListen {
    bool active = false;
    std::uint16_t port = 5900;
    sockaddr_storage address{};
    socklen_t length = 0;
    std::string shown;  // the address as the user reads it
    int socket = -1;    // the server's socket, bound and not yet listening
};

VncListen &vncListen() {
    static VncListen listen;
    return listen;
}

bool parseAddress(const std::string &text, std::uint16_t port, VncListen &out) {
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET, text.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(&out.address, &v4, sizeof v4);
        out.length = sizeof v4;
    } else if (inet_pton(AF_INET6, text.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(&out.address, &v6, sizeof v6);
        out.length = sizeof v6;
    } else {
        return false;
    }
    out.shown = text;
    return true;
}

// Reads QT_QPA_PLATFORM ("vnc:port=5901:addr=0.0.0.0"). False when the
// address given cannot be read: the program must not listen anywhere else.
bool prepareVncListen() {
    const char *platform = std::getenv("QT_QPA_PLATFORM");
    if (!platform) return true;
    std::vector<std::string> parts;
    for (const char *p = platform;;) {
        const char *end = std::strchr(p, ':');
        parts.emplace_back(p, end ? end : p + std::strlen(p));
        if (!end) break;
        p = end + 1;
    }
    if (parts.front() != "vnc") return true;
    VncListen &listen = vncListen();
    std::string address = "127.0.0.1";
    for (const std::string &part : parts) {
        if (part.starts_with("port=")) listen.port = static_cast<std::uint16_t>(std::atoi(part.c_str() + 5));
        if (part.starts_with("addr=")) address = part.substr(5);
    }
    if (!parseAddress(address, listen.port, listen)) {
        std::fprintf(stderr, "noctil: the VNC address \"%s\" is not an IPv4 or IPv6 address.\n", address.c_str());
        return false;
    }
    listen.active = true;
    return true;
}

bool isWildcardOn(const sockaddr *address, socklen_t length, std::uint16_t port) {
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        const auto *v4 = reinterpret_cast<const sockaddr_in *>(address);
        return v4->sin_addr.s_addr == htonl(INADDR_ANY) && ntohs(v4->sin_port) == port;
    }
    if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        const auto *v6 = reinterpret_cast<const sockaddr_in6 *>(address);
        return IN6_IS_ADDR_UNSPECIFIED(&v6->sin6_addr) && ntohs(v6->sin6_port) == port;
    }
    return false;
}

// Gives the descriptor a socket of the address's family (Qt opens an IPv6
// socket for "any address"), keeping its type, flags and reuse option.
bool matchFamily(int fd, int family) {
    int domain = 0, type = 0, reuse = 0;
    socklen_t size = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0) return false;
    if (domain == family) return true;
    size = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0) return false;
    size = sizeof reuse;
    getsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, &size);  // best effort: the default is fine
    const int statusFlags = fcntl(fd, F_GETFL);
    const int descriptorFlags = fcntl(fd, F_GETFD);
    const int replacement = socket(family, type, 0);
    if (replacement < 0) return false;
    setsockopt(replacement, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    const bool moved = dup3(replacement, fd, (descriptorFlags & FD_CLOEXEC) ? O_CLOEXEC : 0) == fd;
    close(replacement);
    if (moved && statusFlags >= 0) fcntl(fd, F_SETFL, statusFlags);
    return moved;
}

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
        std::fprintf(stderr, "noctil: the windows cannot be shown: Qt could not start its \"%s\" platform.\n", platform);
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

// The process's bind: the VNC server's listening socket goes on the address
// chosen above; every other bind passes through unchanged. Qt's network code
// reaches these two only because the executable exports them (CMakeLists.txt).
extern "C" int bind(int fd, const sockaddr *address, socklen_t length) noexcept {
    using Bind = int (*)(int, const sockaddr *, socklen_t);
    static const Bind next = reinterpret_cast<Bind>(dlsym(RTLD_NEXT, "bind"));
    plat::qt::VncListen &listen = plat::qt::vncListen();
    if (!listen.active || !address || !plat::qt::isWildcardOn(address, length, listen.port))
        return next(fd, address, length);
    listen.active = false;  // one server, one bind
    if (!plat::qt::matchFamily(fd, listen.address.ss_family)) return -1;
    const int result = next(fd, reinterpret_cast<const sockaddr *>(&listen.address), listen.length);
    if (result == 0) listen.socket = fd;
    return result;
}

// The process's listen: says where the VNC server can be reached once it can.
extern "C" int listen(int fd, int backlog) noexcept {
    using Listen = int (*)(int, int);
    static const Listen next = reinterpret_cast<Listen>(dlsym(RTLD_NEXT, "listen"));
    const int result = next(fd, backlog);
    plat::qt::VncListen &server = plat::qt::vncListen();
    if (result == 0 && fd == server.socket) {
        server.socket = -1;
        const bool local = server.shown == "127.0.0.1" || server.shown == "::1";
        std::fprintf(stderr, "noctil: VNC server listening on %s port %u%s\n", server.shown.c_str(),
                     static_cast<unsigned>(server.port),
                     local ? " (this machine only)" : ": reachable from the network, without a password");
    }
    return result;
}
