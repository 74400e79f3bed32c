#include "avicap/device_settings.h"

#include <cstdio>

#include "files/paths.h"
#include "profile/ini_file.h"

namespace plat::avicap {

namespace {

std::filesystem::path settingsFile() { return windowsDirectory() / "capture.ini"; }

}  // namespace

std::optional<std::string> savedDeviceSetting(std::string_view device, std::string_view key) {
    return readIniValue(settingsFile(), device, key);
}

bool saveDeviceSettings(std::string_view device, const DeviceSettings &values) {
    const std::filesystem::path file = settingsFile();
    ini::Document document(ini::readFile(file).value_or(std::string()));
    for (const auto &[key, value] : values) document.set(device, key, value);
    std::error_code ignored;  // a missing directory shows as the write failing below
    std::filesystem::create_directories(file.parent_path(), ignored);
    if (ini::replaceFile(file, document.text())) return true;
    std::fprintf(stderr, "capture drivers: cannot write the device settings %s\n", file.string().c_str());
    return false;
}

}  // namespace plat::avicap
