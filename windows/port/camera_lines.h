// The camera's lines on Windows: where the program's writes to the parallel
// port's data register go. A user-mode program cannot execute port output
// instructions on Windows NT, so the data register is reached through the
// InpOut port driver's DLL, or the lines are a serial port's DTR and RTS.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace winport {

// Why the port cannot be used, in the words the person needs: what is
// missing or wrong, and what to do about it.
struct PortFailure {
    std::string what;    // "inpoutx64.dll", "COM3", "C:\Noctil\noctil-port.ini [parallel]"
    std::string reason;  // "not found", "in use by another program"
    std::string remedy;  // where to get it or what to change
};

class CameraLines {
public:
    virtual ~CameraLines() = default;
    // Sets the lines for one value of the data register. After a failure
    // the lines are let go and opened anew.
    virtual std::optional<PortFailure> write(std::uint8_t value) = 0;
};

// A serial port's DTR and RTS each follow one data bit, as on Linux.
struct SerialLines {
    int dtrBit = 1;  // set while integrating (0x0B, 0x0F)
    int rtsBit = 2;  // set while the amplifier is off (0x0F)
    bool dtrInverted = false;
    bool rtsInverted = false;
};

// Whether DTR and RTS are high for a value of the data register.
struct LineLevels {
    bool dtr;
    bool rts;
    bool operator==(const LineLevels &) const = default;
};
LineLevels levelsFor(const SerialLines &lines, std::uint8_t value);

// What a [parallel] section asks for.
struct PortSettings {
    enum class Kind { Inpout, Serial, None };
    Kind kind = Kind::Inpout;
    std::uint16_t address = 0x378;  // the data register (inpout)
    std::string device = "COM1";    // serial
    SerialLines lines;              // serial
};

struct SettingsOrFailure {
    PortSettings settings;
    std::optional<PortFailure> failure;  // set: the section names something unusable
};

// Reads the [parallel] section of `iniFile`; a missing file or key gives the
// defaults (the InpOut driver at 0x378).
SettingsOrFailure readPortSettings(const std::string &iniFile);

// The lines a result names, or why there are none.
struct OpenedLines {
    std::unique_ptr<CameraLines> lines;
    std::optional<PortFailure> failure;
    bool comesBack = false;  // a later try may open it (a serial port not plugged in yet)
};

// The data register at `address` through inpoutx64.dll (64-bit) or
// inpout32.dll (32-bit), loaded from the usual DLL search path.
OpenedLines openInpoutLines(std::uint16_t address);

// DTR and RTS of `device` ("COM3" or "\\.\COM3"), held open exclusively.
OpenedLines openSerialLines(const std::string &device, SerialLines lines);

// What the person is told when the DLL does not load (LoadLibrary's error),
// and when the COM port does not open (CreateFile's error).
PortFailure inpoutLoadFailure(DWORD error);
PortFailure serialOpenFailure(const std::string &device, DWORD error);

// The system's own words for a Win32 error code, without the final period.
std::string systemMessage(DWORD error);

}  // namespace winport
