// The V4L2 driver's Video Source dialog and its message boxes: what the
// device offers shown as choices and fields, the user's answers handed back
// for the driver to set on the device.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "avicap/v4l2/v4l2_listing.h"

namespace plat::avicap::v4l2 {

// The device's inputs, standards and controls and what each is set to.
struct SourceState {
    std::vector<Input> inputs;
    std::optional<std::uint32_t> input;
    std::vector<Standard> standards;
    std::optional<v4l2_std_id> standard;
    std::vector<Control> controls;
};

// What the user confirmed: the input and standard chosen (indexes into the
// state's lists; none when the device has no such list), and each control
// whose value changed with its new value.
struct SourceAnswer {
    std::optional<std::size_t> input, standard;
    std::vector<std::pair<const Control *, std::int32_t>> controls;
};

// Input and standard as lists, then each control with its range: a yes/no
// or menu control as a list, a number as a field kept to its range. True
// when the user confirmed.
bool askVideoSource(HWND owner, const SourceState &now, SourceAnswer &answer);

// Tells the user, in a box titled as `dialog`, of a choice the device would
// not take.
void tellRefused(HWND owner, const char *dialog, const std::string &text);

}  // namespace plat::avicap::v4l2
