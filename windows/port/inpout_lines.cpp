// The data register through the InpOut port driver: its DLL (inpoutx64.dll
// for 64-bit programs, inpout32.dll for 32-bit ones) installs and talks to a
// kernel driver that performs the port output. It is the user's to install;
// Noctil only loads it by name at run time.
#include <string>

#include "camera_lines.h"

namespace winport {

namespace {

using Out32Function = void(WINAPI *)(short port, short data);
using DriverOpenFunction = BOOL(WINAPI *)(void);

constexpr bool k64Bit = sizeof(void *) == 8;
constexpr const char *kDllName = k64Bit ? "inpoutx64.dll" : "inpout32.dll";
constexpr const char *kOtherDllName = k64Bit ? "inpout32.dll" : "inpoutx64.dll";
constexpr const char *kBits = k64Bit ? "64-bit" : "32-bit";
constexpr const char *kOtherBits = k64Bit ? "32-bit" : "64-bit";

// A function, not a constant: the port may be opened by another file's
// static initialiser, before this file's constants exist.
std::string whereToGet() {
    return "Install the InpOut port driver (https://www.highrez.co.uk/downloads/inpout32/): copy " +
           std::string(kDllName) +
           " beside noctil.exe and run its InstallDriver.exe once as administrator. Or name a serial port, or "
           "backend=none, in noctil-port.ini beside noctil.exe.";
}

class InpoutLines final : public CameraLines {
public:
    InpoutLines(HMODULE dll, Out32Function out32, std::uint16_t address)
        : dll_(dll), out32_(out32), address_(address) {}
    ~InpoutLines() override { FreeLibrary(dll_); }

    // The driver's call cannot fail as seen from here: it returns nothing.
    std::optional<PortFailure> write(std::uint8_t value) override {
        out32_(static_cast<short>(address_), static_cast<short>(value));
        return std::nullopt;
    }

private:
    HMODULE dll_;
    Out32Function out32_;
    std::uint16_t address_;
};

// Whether a DLL of that name is on the search path at all, whatever its
// machine type (loaded as data, nothing of it runs).
bool dllPresent(const char *name) {
    HMODULE data = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (data == nullptr) return false;
    FreeLibrary(data);
    return true;
}

}  // namespace

PortFailure inpoutLoadFailure(DWORD error) {
    if (error == ERROR_BAD_EXE_FORMAT)
        return {kDllName,
                std::string("is not a ") + kBits + " DLL (the " + kBits + " noctil.exe needs the " + kBits + " " +
                    kDllName + "; the " + kOtherBits + " one is " + kOtherDllName + ")",
                whereToGet()};
    if (error == ERROR_MOD_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) {
        std::string reason = "not found";
        if (dllPresent(kOtherDllName))
            reason += std::string("; only ") + kOtherDllName + " is installed, which is for " + kOtherBits +
                      " programs such as the " + kOtherBits + " noctil.exe";
        return {kDllName, reason, whereToGet()};
    }
    return {kDllName, "cannot be loaded: " + systemMessage(error), whereToGet()};
}

OpenedLines openInpoutLines(std::uint16_t address) {
    HMODULE dll = LoadLibraryA(kDllName);
    if (dll == nullptr) return {nullptr, inpoutLoadFailure(GetLastError())};
    auto out32 = reinterpret_cast<Out32Function>(reinterpret_cast<void *>(GetProcAddress(dll, "Out32")));
    auto driverOpen =
        reinterpret_cast<DriverOpenFunction>(reinterpret_cast<void *>(GetProcAddress(dll, "IsInpOutDriverOpen")));
    if (out32 == nullptr || driverOpen == nullptr) {
        FreeLibrary(dll);
        return {nullptr, PortFailure{kDllName, "has no Out32 or IsInpOutDriverOpen: it is not the InpOut driver's DLL",
                                     whereToGet()}};
    }
    // The DLL loads without its kernel driver; port writes would then go
    // nowhere, silently.
    if (!driverOpen()) {
        FreeLibrary(dll);
        return {nullptr,
                PortFailure{kDllName, "is installed, but its driver is not (or did not start)",
                            std::string("Run InstallDriver.exe from the InpOut download once as administrator "
                                        "(https://www.highrez.co.uk/downloads/inpout32/), then start Noctil again.")}};
    }
    return {std::make_unique<InpoutLines>(dll, out32, address), std::nullopt};
}

}  // namespace winport
