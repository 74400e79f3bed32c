// What the user chose in a driver's dialogs, kept per device in the
// platform's own configuration: <root>/windows/capture.ini, one section per
// device description, read at each connection and written when a dialog is
// confirmed.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat::avicap {

using DeviceSettings = std::vector<std::pair<std::string, std::string>>;

// The value saved for `device` under `key`, or none.
std::optional<std::string> savedDeviceSetting(std::string_view device, std::string_view key);

// Saves every key of `values` under `device` (other keys of the section
// stay). False, with the reason on standard error, when the file cannot be written.
bool saveDeviceSettings(std::string_view device, const DeviceSettings &values);

}  // namespace plat::avicap
