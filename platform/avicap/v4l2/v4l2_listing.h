// What a device offers and what it is set to: its inputs, TV standards,
// picture controls and frame sizes, for the dialogs, the settings kept per
// device and the choice of a format. Each call is the device's own ioctl.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "avicap/v4l2/v4l2_device.h"
#include "avicap/v4l2/v4l2_format.h"
#include "core/clock.h"

namespace plat::avicap::v4l2 {

struct Input {
    std::uint32_t index = 0;
    std::string name;
    v4l2_std_id standards = 0;  // the TV standards this input takes; 0 for none
};

struct Standard {
    v4l2_std_id id = 0;
    std::string name;
};

struct Control {
    std::uint32_t id = 0;
    std::string name;
    std::uint32_t type = 0;  // V4L2_CTRL_TYPE_INTEGER, _BOOLEAN or _MENU
    std::int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0;
    std::int32_t value = 0;
    std::vector<std::pair<std::int32_t, std::string>> menu;  // the items of a menu control
};

std::vector<Input> listInputs(Device &device);
std::optional<std::uint32_t> currentInput(Device &device);
bool selectInput(Device &device, std::uint32_t index);

// The standards of the current input; none on an input without TV standards.
std::vector<Standard> listStandards(Device &device);
std::optional<v4l2_std_id> currentStandard(Device &device);
bool selectStandard(Device &device, v4l2_std_id id);
// The standards the current input receives (VIDIOC_QUERYSTD): 0 for no
// signal; none when the input or the device cannot tell.
std::optional<v4l2_std_id> receivedStandard(Device &device);

// Every decodable pixel format at every frame size the device offers whose
// frames fit the frame limit.
std::vector<FrameFormat> listFrameFormats(Device &device);
std::optional<FrameFormat> currentFormat(Device &device);

// The standard picture and camera controls that can be set: numbers,
// yes/no and menus.
std::vector<Control> listControls(Device &device);
bool setControl(Device &device, std::uint32_t id, std::int32_t value);

// The device's nominal frame interval, if it tells.
std::optional<Micros> nominalFrameInterval(Device &device);

}  // namespace plat::avicap::v4l2
