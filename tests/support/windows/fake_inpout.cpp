// A stand-in for the InpOut port driver's DLL (inpoutx64.dll, inpout32.dll)
// with its documented functions: it records every call, one line each, in
// the file that NOCTIL_FAKE_INPOUT_LOG names ("Out32 0x378 0x0b 2047":
// port, value, milliseconds since the DLL was loaded), and reads 0xff from
// every port. NOCTIL_FAKE_INPOUT_DRIVER=closed plays a DLL whose kernel
// driver is not installed.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

ULONGLONG loadedAt = 0;

// Appends one line; each line is written at once, so that a test sees the
// writes while the program still runs.
void record(const char *line) {
    char path[MAX_PATH];
    if (GetEnvironmentVariableA("NOCTIL_FAKE_INPOUT_LOG", path, sizeof path) == 0) return;
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    CloseHandle(log);
}

unsigned long long elapsedMs() { return GetTickCount64() - loadedAt; }

}  // namespace

extern "C" {

__declspec(dllexport) void WINAPI Out32(short port, short data) {
    char line[64];
    std::snprintf(line, sizeof line, "Out32 0x%03x 0x%02x %llu\n", static_cast<unsigned short>(port),
                  static_cast<unsigned short>(data), elapsedMs());
    record(line);
}

__declspec(dllexport) short WINAPI Inp32(short port) {
    char line[64];
    std::snprintf(line, sizeof line, "Inp32 0x%03x %llu\n", static_cast<unsigned short>(port), elapsedMs());
    record(line);
    return 0xff;
}

__declspec(dllexport) BOOL WINAPI IsInpOutDriverOpen(void) {
    char mode[16];
    const bool closed =
        GetEnvironmentVariableA("NOCTIL_FAKE_INPOUT_DRIVER", mode, sizeof mode) > 0 && std::strcmp(mode, "closed") == 0;
    record(closed ? "IsInpOutDriverOpen 0\n" : "IsInpOutDriverOpen 1\n");
    return closed ? FALSE : TRUE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        loadedAt = GetTickCount64();
        record("loaded\n");
    }
    return TRUE;
}

}  // extern "C"
