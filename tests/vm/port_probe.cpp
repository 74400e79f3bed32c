// Looks at the emulated port from inside the guest, as a second program
// would see the lines (root only):
//
//   vm_port_probe [--address A] read              prints the register's value
//   vm_port_probe [--address A] wait V[,V...] S   waits up to S seconds until
//                                                 the register holds one of
//                                                 the values; prints it
//   vm_port_probe hold DEVICE                     claims a ppdev port and
//                                                 keeps it until killed
//
// The address is the parallel data register (0x378) unless given; the
// 16550's modem-control register is 0x3FC.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: vm_port_probe [--address A] read | wait V[,V...] SECONDS | hold DEVICE\n");
    return 2;
}

double monotonicSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
    int i = 1;
    unsigned address = 0x378;
    if (i + 1 < argc && !std::strcmp(argv[i], "--address")) {
        address = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 0));
        i += 2;
    }
    if (i >= argc) return usage();
    const std::string command = argv[i];
    if (command == "hold" && i + 1 < argc) {
        const int fd = ::open(argv[i + 1], O_RDWR);
        if (fd < 0 || ::ioctl(fd, PPEXCL) < 0 || ::ioctl(fd, PPCLAIM) < 0) {
            std::fprintf(stderr, "vm_port_probe: cannot claim %s: %s\n", argv[i + 1], std::strerror(errno));
            return 1;
        }
        std::printf("holding %s\n", argv[i + 1]);
        std::fflush(stdout);
        for (;;) ::pause();
    }
    if (::ioperm(address, 1, 1) != 0) {
        std::fprintf(stderr, "vm_port_probe: ioperm(0x%X): %s\n", address, std::strerror(errno));
        return 1;
    }
    if (command == "read") {
        std::printf("0x%02X\n", ::inb(static_cast<unsigned short>(address)));
        return 0;
    }
    if (command == "wait" && i + 2 < argc) {
        std::vector<unsigned> wanted;
        for (char *p = argv[i + 1]; *p;) {
            wanted.push_back(static_cast<unsigned>(std::strtoul(p, &p, 0)));
            if (*p == ',') ++p;
            else if (*p) return usage();
        }
        const double deadline = monotonicSeconds() + std::atof(argv[i + 2]);
        for (;;) {
            const unsigned value = ::inb(static_cast<unsigned short>(address));
            for (unsigned w : wanted)
                if (value == w) {
                    std::printf("0x%02X\n", value);
                    return 0;
                }
            if (monotonicSeconds() > deadline) {
                std::fprintf(stderr, "vm_port_probe: 0x%X still holds 0x%02X\n", address, value);
                return 1;
            }
            ::usleep(500);  // a logic probe's sampling, not a test's wait: the guest polls the line
        }
    }
    return usage();
}
