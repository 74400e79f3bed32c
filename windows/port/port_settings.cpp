// The [parallel] section of the port configuration file:
//   backend = inpout | serial | none
//   address = 0x378 (inpout; hexadecimal with 0x, or decimal)
//   device = COM1, dtr = 1, rts = 2, dtr_inverted = 0, rts_inverted = 0 (serial)
#include <optional>
#include <string>

#include "camera_lines.h"
#include "port/setting_values.h"

namespace winport {

namespace {

// The value of a key, or nothing when the key is missing or empty.
std::optional<std::string> readValue(const std::string &iniFile, const char *key) {
    char text[256];
    const DWORD length = GetPrivateProfileStringA("parallel", key, "", text, sizeof text, iniFile.c_str());
    if (length == 0) return std::nullopt;
    return std::string(text, length);
}

using port_settings::lower;
using port_settings::parseNumber;

// Reads the serial line settings into `lines`; a bad one is named in `bad`.
bool readSerialLines(const std::string &iniFile, SerialLines &lines, std::string &bad) {
    struct Bit {
        const char *key;
        int *bit;
    };
    for (Bit b : {Bit{"dtr", &lines.dtrBit}, Bit{"rts", &lines.rtsBit}}) {
        const auto text = readValue(iniFile, b.key);
        if (!text) continue;
        const auto n = parseNumber(*text);
        if (!n || *n > 7) {
            bad = std::string(b.key) + "=" + *text + " (a data bit from 0 to 7)";
            return false;
        }
        *b.bit = static_cast<int>(*n);
    }
    struct Flag {
        const char *key;
        bool *on;
    };
    for (Flag f : {Flag{"dtr_inverted", &lines.dtrInverted}, Flag{"rts_inverted", &lines.rtsInverted}}) {
        const auto text = readValue(iniFile, f.key);
        if (!text) continue;
        if (*text != "0" && *text != "1") {
            bad = std::string(f.key) + "=" + *text + " (0 or 1)";
            return false;
        }
        *f.on = *text == "1";
    }
    return true;
}

}  // namespace

SettingsOrFailure readPortSettings(const std::string &iniFile) {
    SettingsOrFailure result;
    PortSettings &s = result.settings;
    auto unusable = [&](const std::string &reason) {
        result.failure = PortFailure{iniFile + " [parallel]", reason,
                                     "Correct the setting (the README's Windows section lists them)."};
        s.kind = PortSettings::Kind::None;
        return result;
    };

    const std::string backend = lower(readValue(iniFile, "backend").value_or("inpout"));
    if (backend == "none") {
        s.kind = PortSettings::Kind::None;
        return result;
    }
    if (backend == "inpout") {
        s.kind = PortSettings::Kind::Inpout;
        const std::string text = readValue(iniFile, "address").value_or("0x378");
        const auto address = parseNumber(text);
        // The port has three registers, all within the 16-bit I/O space.
        if (!address || *address == 0 || *address > 0xFFFD)
            return unusable("address=" + text + " is no I/O address (such as 0x378, 0x278, 0x3BC or a card's 0xE800)");
        s.address = static_cast<std::uint16_t>(*address);
        return result;
    }
    if (backend == "serial") {
        s.kind = PortSettings::Kind::Serial;
        s.device = readValue(iniFile, "device").value_or("COM1");
        std::string bad;
        if (!readSerialLines(iniFile, s.lines, bad)) return unusable("bad line setting " + bad);
        return result;
    }
    return unusable("unknown backend \"" + backend + "\" (inpout, serial or none)");
}

LineLevels levelsFor(const SerialLines &lines, std::uint8_t value) {
    return {((value >> lines.dtrBit) & 1) != (lines.dtrInverted ? 1 : 0),
            ((value >> lines.rtsBit) & 1) != (lines.rtsInverted ? 1 : 0)};
}

}  // namespace winport
