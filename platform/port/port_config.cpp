#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "port/port_backend.h"
#include "port/setting_values.h"

namespace plat {

namespace {

using port_settings::lower;
using port_settings::parseNumber;

// Reads the serial line settings; a bad one is reported by name.
std::optional<SerialLines> serialLines(const PortSettings &settings, std::string &bad) {
    SerialLines lines;
    struct Bit {
        const char *key;
        int *bit;
    };
    for (Bit b : {Bit{"dtr", &lines.dtrBit}, Bit{"rts", &lines.rtsBit}}) {
        const auto text = settings.value(b.key);
        if (!text) continue;
        const auto n = parseNumber(*text);
        if (!n || *n > 7) {
            bad = std::string(b.key) + "=" + *text + " (a data bit from 0 to 7)";
            return std::nullopt;
        }
        *b.bit = static_cast<int>(*n);
    }
    struct Flag {
        const char *key;
        bool *on;
    };
    for (Flag f : {Flag{"dtr_inverted", &lines.dtrInverted}, Flag{"rts_inverted", &lines.rtsInverted}}) {
        const auto text = settings.value(f.key);
        if (!text) continue;
        if (*text != "0" && *text != "1") {
            bad = std::string(f.key) + "=" + *text + " (0 or 1)";
            return std::nullopt;
        }
        *f.on = *text == "1";
    }
    return lines;
}

}  // namespace

std::optional<std::string> PortSettings::value(std::string_view key) const {
    for (const auto &[name, text] : values)
        if (lower(name) == lower(std::string(key))) return text;
    return std::nullopt;
}

std::string failureReason(int error) {
    switch (error) {
    case EACCES:
    case EPERM: return "permission denied";
    case ENOENT: return "no such device";
    case ENODEV:
    case ENXIO: return "the device is not there";
    case EBUSY: return "busy (claimed by another program)";
    case EIO: return "input/output error (was the device unplugged?)";
    case ENOTTY: return "not a device of this kind";
    default: return std::strerror(error);
    }
}

std::unique_ptr<PortBackend> makeConfiguredPortBackend(const PortSettings &settings, PortFailureSink report) {
    const std::string backend = lower(settings.value("backend").value_or("simulated"));
    const auto device = settings.value("device");
    auto bad = [&](const std::string &what) {
        const std::string where = settings.source + " [parallel]";
        if (report) report({where, what, "the camera port drives no hardware"});
        return makeSimulatedPortBackend();
    };
    if (backend == "simulated") return makeSimulatedPortBackend();
    if (backend == "ppdev") return makePpdevPortBackend(device.value_or("/dev/parport0"), std::move(report));
    if (backend == "direct") {
        const std::string text = settings.value("address").value_or("0x378");
        const auto address = parseNumber(text);
        // The port has three registers, all within the 16-bit I/O space.
        if (!address || *address == 0 || *address > 0xFFFD)
            return bad("address=" + text + " is no I/O address (such as 0x378, 0x278, 0x3BC or a card's 0xE800)");
        return makeDirectPortBackend(static_cast<std::uint16_t>(*address), std::move(report));
    }
    if (backend == "serial") {
        std::string what;
        const auto lines = serialLines(settings, what);
        if (!lines) return bad("bad line setting " + what);
        return makeSerialPortBackend(device.value_or("/dev/ttyS0"), *lines, std::move(report));
    }
    return bad("unknown backend \"" + backend + "\" (simulated, ppdev, direct or serial)");
}

}  // namespace plat
