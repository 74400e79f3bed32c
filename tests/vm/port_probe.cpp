// Looks at the emulated port from inside the guest, as a second program
// would see the lines (root only):
//
//   vm_port_probe [--address A] read              prints the register's value
//   vm_port_probe [--address A] wait V[,V...] S   waits up to S seconds until
//                                                 the register holds one of
//                                                 the values; prints it
//   vm_port_probe --address A write V             writes V to the register:
//                                                 into the 16550's scratch
//                                                 register (0x3FF), a mark in
//                                                 QEMU's trace that moves no
//                                                 line
//   vm_port_probe hold DEVICE                     claims a ppdev port and
//                                                 keeps it until killed
//   vm_port_probe pulse DEVICE MS COUNT           through ppdev, COUNT times:
//                                                 0x0B, clock_nanosleep to
//                                                 MS later, 0x08, 0x00 - the
//                                                 exposures of a program that
//                                                 does nothing else, to show
//                                                 what the emulator adds
//
// The address is the parallel data register (0x378) unless given; the
// 16550's modem-control register is 0x3FC.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define PROBE_HAS_PORT_IO 1
#else
#define PROBE_HAS_PORT_IO 0  // no I/O instructions: read and wait are refused
#endif
#include <sys/prctl.h>
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
    std::fprintf(stderr,
                 "usage: vm_port_probe [--address A] read | wait V[,V...] SECONDS | write V | hold DEVICE |\n"
                 "       pulse DEVICE MS COUNT\n");
    return 2;
}

#if PROBE_HAS_PORT_IO
double monotonicSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
#endif

int claim(const char *device) {
    const int fd = ::open(device, O_RDWR);
    if (fd < 0 || ::ioctl(fd, PPEXCL) < 0 || ::ioctl(fd, PPCLAIM) < 0) {
        std::fprintf(stderr, "vm_port_probe: cannot claim %s: %s\n", device, std::strerror(errno));
        return -1;
    }
    return fd;
}

void addNanoseconds(timespec &t, long long ns) {
    ns += t.tv_nsec;
    t.tv_sec += static_cast<time_t>(ns / 1000000000);
    t.tv_nsec = static_cast<long>(ns % 1000000000);
}

// Exposures timed by nothing but an absolute clock_nanosleep, with the
// finest timer slack, as the program's own clock asks for.
int pulse(const char *device, long long ms, int count) {
    const int fd = claim(device);
    if (fd < 0) return 1;
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    auto put = [fd](unsigned char value) { return ::ioctl(fd, PPWDATA, &value) == 0; };
    // At rest first, as the program starts: an exposure counts from rest.
    if (!put(0x00)) return 1;
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    addNanoseconds(t, 100000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {}
    for (int n = 0; n < count; ++n) {
        if (!put(0x0B)) return 1;
        clock_gettime(CLOCK_MONOTONIC, &t);
        addNanoseconds(t, ms * 1000000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {}
        if (!put(0x08)) return 1;
        addNanoseconds(t, 100000000);  // a readout's length
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {}
        if (!put(0x00)) return 1;
        addNanoseconds(t, 100000000);
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {}
    }
    return 0;
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
    if (command == "pulse" && i + 3 < argc) return pulse(argv[i + 1], std::atoll(argv[i + 2]), std::atoi(argv[i + 3]));
    if (command == "hold" && i + 1 < argc) {
        if (claim(argv[i + 1]) < 0) return 1;
        std::printf("holding %s\n", argv[i + 1]);
        std::fflush(stdout);
        for (;;) ::pause();
    }
#if PROBE_HAS_PORT_IO
    if (::ioperm(address, 1, 1) != 0) {
        std::fprintf(stderr, "vm_port_probe: ioperm(0x%X): %s\n", address, std::strerror(errno));
        return 1;
    }
    if (command == "read") {
        std::printf("0x%02X\n", ::inb(static_cast<unsigned short>(address)));
        return 0;
    }
    if (command == "write" && i + 1 < argc) {
        ::outb(static_cast<unsigned char>(std::strtoul(argv[i + 1], nullptr, 0)), static_cast<unsigned short>(address));
        return 0;
    }
    if (command == "wait" && i + 2 < argc) {
        std::vector<unsigned> wanted;
        for (char *p = argv[i + 1]; *p;) {
            wanted.push_back(static_cast<unsigned>(std::strtoul(p, &p, 0)));
            if (*p == ',')
                ++p;
            else if (*p)
                return usage();
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
#else
    if (command == "read" || command == "wait" || command == "write") {
        std::fprintf(stderr, "vm_port_probe: this processor has no I/O instructions to reach 0x%X\n", address);
        return 1;
    }
#endif
    return usage();
}
