// The VNC server's listening address. Qt's VNC platform listens on every
// interface and takes no address; the process's bind and listen, which the
// executable exports so that Qt's network code calls them, put the server's
// socket on the loopback address or on the one the user named, and say where
// it listens.
#include "display/qt/vnc_listen.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace plat::qt {

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

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
