#include "avicap/installed_simcam.h"

#include <array>
#include <cstdlib>
#include <optional>
#include <string>

#include "avicap/device_settings.h"
#include "avicap/driver_dialogs.h"

namespace plat::avicap {

namespace {

constexpr const char *kGainKey = "gain percent";
constexpr const char *kSkyNumberKey = "sky number";

// The dialogs over the platform's dialog box; a confirmed source dialog is
// kept in the device settings.
class Dialogs final : public SimulatedCameraDialogs {
public:
    bool videoSource(HWND owner, SkySettings &sky) override {
        std::array<SourceField, 2> fields{{
            {"Gain (percent)", static_cast<int>(sky.gain * 100 + 0.5), 10, 1600},
            {"Sky number", static_cast<int>(sky.skyNumber & 0x7FFFFFFF), 0, 0x7FFFFFFF},
        }};
        if (!runSourceDialog(owner, "Video Source", fields)) return false;
        sky.gain = fields[0].value / 100.0;
        sky.skyNumber = static_cast<std::uint64_t>(fields[1].value);
        saveDeviceSettings(kSimulatedCameraDescription, {{kGainKey, std::to_string(fields[0].value)},
                                                         {kSkyNumberKey, std::to_string(fields[1].value)}});
        return true;
    }

    bool videoFormat(HWND owner, std::span<const BITMAPINFOHEADER> formats, std::size_t &index) override {
        return runFormatDialog(owner, "Video Format", formats, index);
    }
};

// The gain and sky the user chose last, within the dialog's ranges.
SkySettings savedSky() {
    SkySettings sky;
    const auto number = [](const char *key, long minimum, long maximum) -> std::optional<long> {
        const std::optional<std::string> text = savedDeviceSetting(kSimulatedCameraDescription, key);
        if (!text) return std::nullopt;
        char *end = nullptr;
        const long value = std::strtol(text->c_str(), &end, 10);
        if (end == text->c_str() || *end || value < minimum || value > maximum) return std::nullopt;
        return value;
    };
    if (const auto gain = number(kGainKey, 10, 1600)) sky.gain = static_cast<double>(*gain) / 100.0;
    if (const auto number_ = number(kSkyNumberKey, 0, 0x7FFFFFFF)) sky.skyNumber = static_cast<std::uint64_t>(*number_);
    return sky;
}

}  // namespace

std::unique_ptr<ClockPacedDriver> makeInstalledSimulatedCamera(Clock &clock, ParallelPort &port) {
    return makeSimulatedCamera(clock, port, savedSky(), std::make_unique<Dialogs>());
}

}  // namespace plat::avicap
