// _outp on Windows: the program's writes to the parallel port's data
// register set the camera's lines through the port that noctil-port.ini
// (beside noctil.exe) names. The port is opened at the first write, which
// this file makes itself before WinMain runs: the rest level, so that a
// camera that an earlier run left integrating stops at once.
#include <conio.h>

#include <cstdint>
#include <string>

#include "camera_port.h"
#include "port_boxes.h"

namespace winport {

namespace {

constexpr unsigned short kDataRegister = 0x378;

// noctil-port.ini in the folder of noctil.exe.
std::string portIniFile() {
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string file(path, length < sizeof path ? length : 0);
    const auto slash = file.find_last_of("\\/");
    file.erase(slash == std::string::npos ? 0 : slash + 1);
    return file + "noctil-port.ini";
}

OpenedLines openConfiguredLines() {
    const SettingsOrFailure configured = readPortSettings(portIniFile());
    if (configured.failure) return {nullptr, configured.failure};
    const PortSettings &s = configured.settings;
    switch (s.kind) {
    case PortSettings::Kind::None: break;
    case PortSettings::Kind::Inpout: return openInpoutLines(s.address);
    case PortSettings::Kind::Serial: return openSerialLines(s.device, s.lines);
    }
    return {};
}

struct ProgramPort {
    PortBoxes boxes;
    CameraPort port{openConfiguredLines, [this](const std::string &text) { boxes.tell(text); }};
};

ProgramPort &programPort() {
    static ProgramPort port;
    return port;
}

}  // namespace

}  // namespace winport

// Returns the byte written, as the C runtime's _outp does.
extern "C" int __cdecl _outp(unsigned short port, int databyte) {
    const auto value = static_cast<std::uint8_t>(databyte);
    winport::programPort().port.write(port, value);
    return value;
}

// The rest level before anything else of the program runs; every later
// write is the program's own.
[[maybe_unused]] static const bool restAtStart = [] {
    _outp(winport::kDataRegister, 0x00);
    winport::programPort().boxes.programRuns();
    return true;
}();
