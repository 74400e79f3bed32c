// Holds a serial port open, exclusively, as another program using it would:
// hold_port COM5 opens \\.\COM5, prints "held" and keeps it until its
// standard input ends. Exit status 1 when the port cannot be opened.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: hold_port COMn\n");
        return 2;
    }
    const std::string path = std::string("\\\\.\\") + argv[1];
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_port: %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) {}
    CloseHandle(port);
    return 0;
}
