// The camera lines on a serial port's DTR and RTS, for machines without a
// parallel port (a USB serial adapter has them). Each line follows one bit of
// the data register, as the Linux serial backend does.
#include <cstring>
#include <string>

#include "camera_lines.h"

namespace winport {

namespace {

// The COM ports this machine has, for a person who named another one.
std::string comPortsOfThisMachine() {
    static char names[65536];  // a list of zero-ended names, ended by another zero
    const DWORD length = QueryDosDeviceA(nullptr, names, sizeof names);
    std::string list;
    for (DWORD i = 0; i < length && names[i] != '\0'; i += static_cast<DWORD>(strlen(names + i)) + 1) {
        const char *name = names + i;
        if (strncmp(name, "COM", 3) != 0) continue;
        if (!list.empty()) list += ", ";
        list += name;
    }
    return list.empty() ? "This machine has no COM port." : "This machine has " + list + ".";
}

class SerialPortLines final : public CameraLines {
public:
    SerialPortLines(HANDLE port, std::string device, SerialLines lines)
        : port_(port), device_(std::move(device)), lines_(lines) {}
    // Windows' serial drivers lower DTR and RTS when the last handle closes.
    ~SerialPortLines() override { CloseHandle(port_); }

    std::optional<PortFailure> write(std::uint8_t value) override {
        const LineLevels wanted = levelsFor(lines_, value);
        if (known_ && wanted == current_) return std::nullopt;
        // One call per line: the comm API has no call that sets both.
        if (!EscapeCommFunction(port_, wanted.dtr ? SETDTR : CLRDTR) ||
            !EscapeCommFunction(port_, wanted.rts ? SETRTS : CLRRTS)) {
            return PortFailure{device_, "its DTR and RTS lines cannot be set: " + systemMessage(GetLastError()),
                               "Check that the adapter is plugged in."};
        }
        current_ = wanted;
        known_ = true;
        return std::nullopt;
    }

private:
    HANDLE port_;
    std::string device_;
    SerialLines lines_;
    LineLevels current_{false, false};
    bool known_ = false;  // the lines' levels at open are the driver's
};

}  // namespace

PortFailure serialOpenFailure(const std::string &device, DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return {device, "no such port",
                comPortsOfThisMachine() +
                    " Device Manager lists them under Ports (COM & LPT); name one as device= in noctil-port.ini."};
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return {device, "in use by another program", "Close the program that holds the port."};
    default: return {device, "cannot be opened: " + systemMessage(error), comPortsOfThisMachine()};
    }
}

OpenedLines openSerialLines(const std::string &device, SerialLines lines) {
    // COM10 and above are reachable only through the device namespace.
    const std::string path = device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
    // No sharing: no other program may open the port while Noctil holds it.
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    // Every failure here may pass (an adapter plugged in later, a program
    // that lets the port go): the port is tried again at later writes.
    if (port == INVALID_HANDLE_VALUE) return {nullptr, serialOpenFailure(device, GetLastError()), true};

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb)) {
        CloseHandle(port);
        return {nullptr, PortFailure{device, "not a serial port", comPortsOfThisMachine()}, true};
    }
    // The lines are ours alone: no handshake drives them.
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    if (!SetCommState(port, &dcb)) {
        const DWORD error = GetLastError();
        CloseHandle(port);
        return {nullptr,
                PortFailure{device, "cannot be set up: " + systemMessage(error), "Check that the adapter is plugged in."},
                true};
    }
    return {std::make_unique<SerialPortLines>(port, device, lines), std::nullopt};
}

}  // namespace winport
