// _outp on Windows: the program's writes to the parallel port's data
// register set the camera's lines through the port that noctil-port.ini
// (beside noctil.exe) names. The port is opened at the first write, which
// this file makes itself before WinMain runs: the rest level, so that a
// camera that an earlier run left integrating stops at once.
#include <conio.h>

#include <cstdint>
#include <memory>
#include <string>

#include "camera_lines.h"

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

class CameraPort {
public:
    void write(unsigned short address, std::uint8_t value) {
        if (!opened_) open();
        // Only the data register carries the camera's lines.
        if (address != kDataRegister || lines_ == nullptr) return;
        if (auto failure = lines_->write(value)) {
            lines_.reset();
            tell(*failure);
        }
    }

private:
    void open() {
        opened_ = true;  // a write from inside the box below finds no lines
        const SettingsOrFailure configured = readPortSettings(portIniFile());
        if (configured.failure) return tell(*configured.failure);
        const PortSettings &s = configured.settings;
        OpenedLines opened;
        switch (s.kind) {
        case PortSettings::Kind::None: return;
        case PortSettings::Kind::Inpout: opened = openInpoutLines(s.address); break;
        case PortSettings::Kind::Serial: opened = openSerialLines(s.device, s.lines); break;
        }
        if (opened.failure) return tell(*opened.failure);
        lines_ = std::move(opened.lines);
    }

    // Once per run, in a box titled "Error" as every failure the person
    // hears of; the program then goes on as on a machine without a port.
    void tell(const PortFailure &failure) {
        if (told_) return;
        told_ = true;
        const std::string text = "The camera port cannot be used.\n\n" + failure.what + ": " + failure.reason +
                                 ".\n\n" + failure.remedy +
                                 "\n\nThe camera is not controlled: exposures are not made as set until the port "
                                 "works and Noctil is started again.";
        // The same words for a debugger (and for the tests, through Wine's
        // log), a paragraph at a time: debuggers cut long strings short.
        for (std::size_t at = 0; at < text.size();) {
            std::size_t end = text.find("\n\n", at);
            if (end == std::string::npos) end = text.size();
            OutputDebugStringA(("noctil: " + text.substr(at, end - at) + "\n").c_str());
            at = end + 2;
        }
        MessageBoxA(nullptr, text.c_str(), "Error", MB_OK | MB_ICONSTOP);
    }

    std::unique_ptr<CameraLines> lines_;
    bool opened_ = false;
    bool told_ = false;
};

CameraPort &cameraPort() {
    static CameraPort port;
    return port;
}

}  // namespace

}  // namespace winport

// Returns the byte written, as the C runtime's _outp does.
extern "C" int __cdecl _outp(unsigned short port, int databyte) {
    const auto value = static_cast<std::uint8_t>(databyte);
    winport::cameraPort().write(port, value);
    return value;
}

// The rest level before anything else of the program runs.
[[maybe_unused]] static const int restAtStart = _outp(winport::kDataRegister, 0x00);
