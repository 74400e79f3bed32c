// A V4L2 device as a capture driver. The device streams from connection to
// disconnection, so that a streaming capture starts by giving back the
// frames finished before it and its first frame ends within one frame
// period; live video takes the newest frame. What the user chose in the
// dialogs (input, standard, format, controls) is kept per device and put
// back at the next connection.
#include "avicap/v4l2/v4l2_driver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "avicap/device_settings.h"
#include "avicap/driver_dialogs.h"
#include "avicap/v4l2/format_choice.h"
#include "avicap/v4l2/v4l2_device.h"
#include "core/session.h"

namespace plat::avicap::v4l2 {

namespace {

constexpr const char *kInputKey = "input";
constexpr const char *kStandardKey = "standard";
constexpr const char *kFormatKey = "format";  // "YUYV 640x480"

std::string formatKey(const FrameFormat &f) {
    return fourccText(f.pixelFormat) + " " + std::to_string(f.width) + "x" + std::to_string(f.height);
}

std::string controlKey(const Control &c) {
    std::string key = "control " + c.name;
    std::replace_if(
        key.begin(), key.end(), [](char ch) { return ch == '=' || ch == ';' || ch == '[' || ch == ']'; }, '_');
    return key;
}

class V4l2Driver final : public Driver {
public:
    V4l2Driver(std::shared_ptr<Io> io, DeviceListing listing) : io_(std::move(io)), listing_(std::move(listing)) {}
    ~V4l2Driver() override { close(); }

    std::string description() const override { return listing_.description; }
    std::string version() const override { return "V4L2 device " + listing_.node; }

    bool open() override;
    void close() override;

    DriverCaps caps() const override { return {.overlay = false, .sourceDialog = true, .formatDialog = true}; }
    std::span<const BITMAPINFOHEADER> formats() const override { return headers_; }
    std::size_t formatIndex() const override { return formatIndex_; }
    bool selectFormat(std::size_t index) override;

    bool startStream(Micros) override;
    FrameWait nextFrame(std::optional<Micros> deadline, std::span<std::uint8_t> frame) override;
    void endStream() override {}
    std::size_t grabFrame(std::span<std::uint8_t> frame) override;
    std::string failure() const override { return failure_; }
    int failureCode() const override { return failureCode_; }
    Recovery recover(bool eager) override;
    std::string takeNotice() override;

    bool videoSourceDialog(HWND owner) override;
    bool videoFormatDialog(HWND owner) override;

private:
    // Stops, frees the buffers, and maps and starts them again in `format`.
    bool restart(const FrameFormat &format);
    void loadFormats();
    // Puts back the saved input, standard and controls; true when a
    // standard was saved for the device.
    bool restoreSettings();
    // On an input with TV standards, selects the one the device receives.
    void selectReceivedStandard();
    // Starts the saved format, or the nearest one the device can hand over.
    bool startChosenFormat();
    void saveSettings();
    void deviceFailed();
    // The device's last failure; a device closed after it failed keeps it.
    const std::string &deviceError() const { return device_ ? device_->error() : lostError_; }
    // Tells the user of a choice the device would not take.
    void refused(HWND owner, const char *dialog, const std::string &what);

    std::shared_ptr<Io> io_;
    DeviceListing listing_;
    std::unique_ptr<Device> device_;
    std::vector<FrameFormat> frameFormats_;
    std::vector<BITMAPINFOHEADER> headers_;
    std::size_t formatIndex_ = 0;
    std::string failure_;
    int failureCode_ = 0;
    // A device that failed is closed; the format it streamed in is the one
    // it is set up in again when it is back.
    std::optional<FrameFormat> lostFormat_;
    std::string lostError_;
    Micros lookedAt_ = 0;
    std::string notice_;          // for the user, once
    bool undecodedTold_ = false;  // refused frames are told once a connection
};

std::string V4l2Driver::takeNotice() {
    if (device_ && !undecodedTold_ && device_->undecodedFrames() > 0) {
        undecodedTold_ = true;
        const std::string text = listing_.description + " delivered a frame that could not be decoded (" +
                                 device_->undecodedReason() +
                                 "). Such frames are left out whole; the frames before and after them are used.";
        std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), text.c_str());
        notice_ = notice_.empty() ? text : notice_ + "\n\n" + text;
    }
    return std::exchange(notice_, {});
}

void V4l2Driver::loadFormats() {
    frameFormats_ = device_->frameFormats();
    // A device that takes a range of sizes is listed at common sizes; the
    // size it is set to now is one of its own, and the nearest of all.
    const std::optional<FrameFormat> current = device_->currentFormat();
    if (current && current->width && current->height && decodable(current->pixelFormat) &&
        bitmapHeader(*current).biSizeImage <= kLargestFrameBytes &&
        std::find(frameFormats_.begin(), frameFormats_.end(), *current) == frameFormats_.end())
        frameFormats_.push_back(*current);
    headers_.clear();
    for (const FrameFormat &f : frameFormats_) headers_.push_back(bitmapHeader(f));
}

bool V4l2Driver::open() {
    if (device_) return true;
    failure_.clear();
    failureCode_ = 0;
    notice_.clear();
    undecodedTold_ = false;
    device_ = std::make_unique<Device>(io_, listing_.node);
    bool ok = device_->open();
    if (ok) {
        if (!restoreSettings()) selectReceivedStandard();
        loadFormats();
        if (frameFormats_.empty()) {
            failure_ = listing_.description +
                       " offers no format that can be captured (every one is unknown "
                       "or larger than " +
                       std::to_string(kLargestFrameBytes) + " bytes a frame)";
            ok = false;
        }
    }
    if (ok) ok = startChosenFormat();
    if (!ok) {
        if (failure_.empty()) failure_ = listing_.description + ": " + device_->error();
        std::fprintf(stderr, "v4l2: %s: cannot connect: %s\n", listing_.node.c_str(), failure_.c_str());
        device_.reset();
        notice_.clear();
        return false;
    }
    return true;
}

// A grabber that starts on one standard while the camera sends another
// would deliver the wrong number of lines: with no standard saved, the one
// the device says it receives is selected. No signal, or an answer that
// fits standards of both line counts, keeps the device's own.
void V4l2Driver::selectReceivedStandard() {
    const std::vector<Standard> standards = device_->standards();
    if (standards.empty()) return;  // an input without TV standards
    const std::optional<v4l2_std_id> received = device_->detectStandard();
    if (!received) return;  // the device cannot tell
    const char *node = listing_.node.c_str();
    if (*received == 0) {
        std::fprintf(stderr, "v4l2: %s: no signal on the input; the device's own standard is kept\n", node);
        return;
    }
    // The standards the answer names, those it covers whole first.
    std::vector<const Standard *> named;
    for (const Standard &s : standards)
        if ((s.id & *received) && !(s.id & ~*received)) named.push_back(&s);
    if (named.empty())
        for (const Standard &s : standards)
            if (s.id & *received) named.push_back(&s);
    v4l2_std_id all = 0;
    for (const Standard *s : named) all |= s->id;
    if (named.empty() || linesOf(all) == 0) {
        std::fprintf(stderr,
                     "v4l2: %s: the received standard (0x%llx) is not one of one line count; the device's "
                     "own is kept\n",
                     node, static_cast<unsigned long long>(*received));
        return;
    }
    const Standard &chosen = *named.front();
    const std::optional<v4l2_std_id> current = device_->standard();
    if (current && (*current & *received) && linesOf(*current) == linesOf(all)) return;  // already on it
    if (!device_->setStandard(chosen.id)) {
        std::string own = "its own standard";
        for (const Standard &s : standards)
            if (current && s.id == *current) own = s.name;
        notice_ = listing_.description + " receives " + chosen.name + " but refused to switch to it (" +
                  device_->error() + "); it stays on " + own + ". Choose the standard in Video Source.";
        std::fprintf(stderr, "v4l2: %s: %s\n", node, notice_.c_str());
        return;
    }
    std::fprintf(stderr, "v4l2: %s: receives %s; selected\n", node, chosen.name.c_str());
}

bool V4l2Driver::startChosenFormat() {
    const std::optional<std::string> saved = savedDeviceSetting(listing_.description, kFormatKey);
    std::optional<std::size_t> savedIndex;
    for (std::size_t i = 0; i < frameFormats_.size() && !savedIndex; ++i)
        if (saved && formatKey(frameFormats_[i]) == *saved) savedIndex = i;
    const std::optional<v4l2_std_id> standard = device_->standard();
    std::vector<std::size_t> order =
        formatPreference(frameFormats_, device_->currentFormat(), standard ? linesOf(*standard) : 0);
    if (savedIndex) {
        order.erase(std::find(order.begin(), order.end(), *savedIndex));
        order.insert(order.begin(), *savedIndex);
    }
    // A device may refuse a format it lists: the next is tried, a few at most.
    constexpr std::size_t kTries = 8;
    std::string refusals;
    for (std::size_t t = 0; t < order.size() && t < kTries; ++t) {
        const FrameFormat wanted = frameFormats_[order[t]];
        if (restart(wanted)) {
            if (saved && formatIndex_ != savedIndex) {
                notice_ += (notice_.empty() ? "" : "\n\n") + listing_.description + ": the saved video format " +
                           *saved + (savedIndex ? " was refused" : " is no longer offered") + "; capturing " +
                           describeDeviceFormat(frameFormats_[formatIndex_]) + " instead.";
                std::fprintf(stderr, "v4l2: %s: the saved format %s cannot be used; %s is used\n",
                             listing_.node.c_str(), saved->c_str(), formatKey(frameFormats_[formatIndex_]).c_str());
            }
            return true;
        }
        if (device_->errorCode() == EBUSY) return false;  // held by another program: told as such
        std::fprintf(stderr, "v4l2: %s: format %s refused: %s\n", listing_.node.c_str(), formatKey(wanted).c_str(),
                     device_->error().c_str());
    }
    failure_ = listing_.description + " refused every format it offers (" + device_->error() + ")";
    return false;
}

void V4l2Driver::close() { device_.reset(); }

bool V4l2Driver::restart(const FrameFormat &format) {
    device_->stop();
    device_->uninit();
    if (!device_->init(format) || !device_->start()) {
        if (device_->errorCode() == EBUSY)
            failure_ = listing_.description + " is in use by another program (" + device_->error() + ")";
        return false;
    }
    // The device may have taken a size of its own: that one is the format.
    const auto at = std::find(frameFormats_.begin(), frameFormats_.end(), device_->format());
    if (at == frameFormats_.end()) {
        frameFormats_.push_back(device_->format());
        headers_.push_back(bitmapHeader(device_->format()));
        formatIndex_ = frameFormats_.size() - 1;
    } else {
        formatIndex_ = static_cast<std::size_t>(at - frameFormats_.begin());
    }
    return true;
}

bool V4l2Driver::selectFormat(std::size_t index) {
    if (!device_ || index >= frameFormats_.size()) return false;
    const FrameFormat before = frameFormats_[formatIndex_];
    if (restart(frameFormats_[index])) return true;
    std::fprintf(stderr, "v4l2: %s: format %s refused: %s\n", listing_.node.c_str(),
                 formatKey(frameFormats_[index]).c_str(), device_->error().c_str());
    if (!restart(before)) deviceFailed();
    return false;
}

// Closes the device at once: a device that is gone comes back (as a new
// node, or after its driver was loaded again) only once every handle of the
// old one is closed.
void V4l2Driver::deviceFailed() {
    if (failure_.empty()) failure_ = listing_.description + ": " + device_->error();
    if (failureCode_ == 0) failureCode_ = device_->errorCode();
    std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), failure_.c_str());
    if (!frameFormats_.empty() && !lostFormat_) lostFormat_ = frameFormats_[formatIndex_];
    lostError_ = device_->error();
    device_.reset();
}

// The device is found again by its description, whichever node it has now,
// and set up as saved, in the format it streamed in before.
Driver::Recovery V4l2Driver::recover(bool eager) {
    if (device_) return Recovery::Working;
    if (!lostFormat_) return Recovery::NotBack;  // it never connected
    const Micros now = session().clock().now();
    if (!eager && now - lookedAt_ < 1000000) return Recovery::NotBack;
    lookedAt_ = now;
    std::optional<std::string> node;
    for (const DeviceListing &found : listDevices(*io_))
        if (found.description == listing_.description) node = found.node;
    if (!node) return Recovery::NotBack;
    auto device = std::make_unique<Device>(io_, *node);
    if (!device->open()) return Recovery::NotBack;
    device_ = std::move(device);
    listing_.node = *node;
    restoreSettings();
    loadFormats();
    if (frameFormats_.empty() || !restart(*lostFormat_)) {
        std::fprintf(stderr, "v4l2: %s: back, but cannot be set up again: %s\n", listing_.node.c_str(),
                     device_->error().c_str());
        device_.reset();
        return Recovery::NotBack;
    }
    std::fprintf(stderr, "v4l2: %s: %s is back\n", listing_.node.c_str(), listing_.description.c_str());
    lostFormat_.reset();
    failure_.clear();
    failureCode_ = 0;
    return Recovery::Back;
}

bool V4l2Driver::startStream(Micros) {
    if (!device_ || !device_->isOpen()) return false;
    if (!device_->streaming() && !restart(frameFormats_[formatIndex_])) {
        deviceFailed();
        return false;
    }
    device_->drain();
    return true;
}

FrameWait V4l2Driver::nextFrame(std::optional<Micros> deadline, std::span<std::uint8_t> frame) {
    if (!device_ || !device_->isOpen()) return {FrameWait::Outcome::Failed, 0};
    const FrameWait wait = device_->readFrame(deadline, frame);
    if (wait.outcome == FrameWait::Outcome::Failed) deviceFailed();
    return wait;
}

std::size_t V4l2Driver::grabFrame(std::span<std::uint8_t> frame) {
    if (!device_ || !device_->streaming()) return 0;
    const std::size_t used = device_->latestFrame(frame);
    if (device_->broken()) deviceFailed();
    return used;
}

bool V4l2Driver::restoreSettings() {
    const std::string &section = listing_.description;
    bool standardSaved = false;
    if (const auto name = savedDeviceSetting(section, kInputKey)) {
        const std::vector<Input> inputs = device_->inputs();
        const auto at = std::find_if(inputs.begin(), inputs.end(), [&](const Input &in) { return in.name == *name; });
        if (at == inputs.end())
            std::fprintf(stderr, "v4l2: %s: the saved input '%s' no longer exists; the device's own is used\n",
                         listing_.node.c_str(), name->c_str());
        else if (!device_->setInput(at->index))
            std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), device_->error().c_str());
    }
    if (const auto name = savedDeviceSetting(section, kStandardKey)) {
        standardSaved = true;
        const std::vector<Standard> standards = device_->standards();
        const auto at =
            std::find_if(standards.begin(), standards.end(), [&](const Standard &s) { return s.name == *name; });
        if (at == standards.end())
            std::fprintf(stderr, "v4l2: %s: the saved standard '%s' is not offered; the device's own is used\n",
                         listing_.node.c_str(), name->c_str());
        else if (!device_->setStandard(at->id))
            std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), device_->error().c_str());
    }
    for (const Control &c : device_->controls()) {
        const auto saved = savedDeviceSetting(section, controlKey(c));
        if (!saved) continue;
        char *end = nullptr;
        const long value = std::strtol(saved->c_str(), &end, 10);
        if (end == saved->c_str() || *end || value < c.minimum || value > c.maximum)
            std::fprintf(stderr, "v4l2: %s: the saved %s '%s' is out of its range; not set\n", listing_.node.c_str(),
                         c.name.c_str(), saved->c_str());
        else if (value != c.value && !device_->setControl(c.id, static_cast<std::int32_t>(value)))
            std::fprintf(stderr, "v4l2: %s: %s refused %ld: %s\n", listing_.node.c_str(), c.name.c_str(), value,
                         device_->error().c_str());
    }
    return standardSaved;
}

void V4l2Driver::saveSettings() {
    DeviceSettings values;
    const std::optional<std::uint32_t> input = device_->input();
    for (const Input &in : device_->inputs())
        if (input && in.index == *input) values.emplace_back(kInputKey, in.name);
    const std::optional<v4l2_std_id> standard = device_->standard();
    for (const Standard &s : device_->standards())
        if (standard && s.id == *standard) {
            values.emplace_back(kStandardKey, s.name);
            break;
        }
    values.emplace_back(kFormatKey, formatKey(frameFormats_[formatIndex_]));
    for (const Control &c : device_->controls()) values.emplace_back(controlKey(c), std::to_string(c.value));
    saveDeviceSettings(listing_.description, values);
}

void V4l2Driver::refused(HWND owner, const char *dialog, const std::string &what) {
    const std::string text = listing_.description + " refused " + what + ":\n" + deviceError();
    std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), text.c_str());
    MessageBoxA(owner, text.c_str(), dialog, MB_OK | MB_ICONEXCLAMATION);
}

// Input and standard as lists, then each control with its range: a
// yes/no or menu control as a list, a number as a field.
bool V4l2Driver::videoSourceDialog(HWND owner) {
    if (!device_ || !device_->isOpen()) return false;
    const std::vector<Input> inputs = device_->inputs();
    const std::vector<Standard> standards = device_->standards();
    const std::vector<Control> controls = device_->controls();

    std::vector<SourceChoice> choices;
    std::vector<SourceField> fields;
    SourceChoice input{"Input", {}, 0};
    const std::optional<std::uint32_t> currentInput = device_->input();
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        input.items.push_back(inputs[i].name);
        if (currentInput && inputs[i].index == *currentInput) input.selected = static_cast<int>(i);
    }
    if (!inputs.empty()) choices.push_back(input);
    SourceChoice standard{"TV standard", {}, -1};
    const std::optional<v4l2_std_id> currentStandard = device_->standard();
    for (std::size_t i = 0; i < standards.size(); ++i) {
        standard.items.push_back(standards[i].name);
        if (standard.selected < 0 && currentStandard && standards[i].id == *currentStandard)
            standard.selected = static_cast<int>(i);
    }
    const bool hasStandards = !standards.empty();
    if (hasStandards) choices.push_back(standard);
    std::vector<std::pair<const Control *, std::size_t>> choiceControls, fieldControls;
    for (const Control &c : controls) {
        if (c.type == V4L2_CTRL_TYPE_INTEGER) {
            fieldControls.emplace_back(&c, fields.size());
            fields.push_back({c.name + " (" + std::to_string(c.minimum) + " to " + std::to_string(c.maximum) + ")",
                              c.value, c.minimum, c.maximum});
            continue;
        }
        SourceChoice choice{c.name, {}, 0};
        if (c.type == V4L2_CTRL_TYPE_BOOLEAN) {
            choice.items = {"Off", "On"};
            choice.selected = c.value ? 1 : 0;
        } else {
            for (std::size_t i = 0; i < c.menu.size(); ++i) {
                choice.items.push_back(c.menu[i].second);
                if (c.menu[i].first == c.value) choice.selected = static_cast<int>(i);
            }
        }
        choiceControls.emplace_back(&c, choices.size());
        choices.push_back(std::move(choice));
    }
    if (!runSourceDialog(owner, "Video Source", choices, fields)) return false;

    // A new input or standard changes the frames: the buffers are remade.
    const int inputChoice = inputs.empty() ? -1 : choices[0].selected;
    const int standardChoice = hasStandards ? choices[inputs.empty() ? 0 : 1].selected : -1;
    const bool newInput =
        inputChoice >= 0 && (!currentInput || inputs[static_cast<std::size_t>(inputChoice)].index != *currentInput);
    const bool newStandard =
        standardChoice >= 0 &&
        (!currentStandard || standards[static_cast<std::size_t>(standardChoice)].id != *currentStandard);
    if (newInput || newStandard) {
        device_->stop();
        device_->uninit();
        if (newInput && !device_->setInput(inputs[static_cast<std::size_t>(inputChoice)].index))
            refused(owner, "Video Source", "the input " + inputs[static_cast<std::size_t>(inputChoice)].name);
        // The standards belong to the input: ask again after a new input.
        const std::vector<Standard> now = device_->standards();
        if (standardChoice >= 0) {
            const std::string &name = standards[static_cast<std::size_t>(standardChoice)].name;
            const auto at = std::find_if(now.begin(), now.end(), [&](const Standard &s) { return s.name == name; });
            if (at != now.end() && !device_->setStandard(at->id)) refused(owner, "Video Source", "the standard " + name);
        }
        // The frame size the new standard brought if the device can hand
        // it over, else the nearest one.
        loadFormats();
        const std::optional<v4l2_std_id> newStandard = device_->standard();
        const std::vector<std::size_t> order =
            formatPreference(frameFormats_, device_->currentFormat(), newStandard ? linesOf(*newStandard) : 0);
        if (frameFormats_.empty() || !restart(frameFormats_[order.front()])) {
            deviceFailed();
            return false;
        }
    }
    for (const auto &[control, index] : fieldControls)
        if (fields[index].value != control->value && !device_->setControl(control->id, fields[index].value))
            refused(owner, "Video Source", control->name + " = " + std::to_string(fields[index].value));
    for (const auto &[control, index] : choiceControls) {
        const int selected = choices[index].selected;
        const std::int32_t value = control->type == V4L2_CTRL_TYPE_BOOLEAN
                                       ? selected
                                       : (selected >= 0 && static_cast<std::size_t>(selected) < control->menu.size()
                                              ? control->menu[static_cast<std::size_t>(selected)].first
                                              : control->value);
        if (value != control->value && !device_->setControl(control->id, value))
            refused(owner, "Video Source", control->name + " = " + std::to_string(value));
    }
    saveSettings();
    return true;
}

bool V4l2Driver::videoFormatDialog(HWND owner) {
    if (!device_ || !device_->isOpen()) return false;
    std::size_t index = formatIndex_;
    if (!runFormatDialog(owner, "Video Format", headers_, index)) return false;
    // A device that went away under the dialog is closed by now (here or
    // by a live frame) and looked for again before the next stream.
    if (!selectFormat(index)) {
        refused(owner, "Video Format", "the format " + describeFormat(headers_[index]));
        return false;
    }
    saveSettings();
    return true;
}

}  // namespace

std::vector<DeviceListing> listDevices(Io &io) {
    std::vector<DeviceListing> found;
    std::shared_ptr<Io> borrowed(&io, [](Io *) {});
    for (const std::string &node : io.deviceNodes()) {
        Device device(borrowed, node);
        if (!device.open()) continue;  // not a capture device, or not ours to open now
        std::string description = device.card() + " (" + (device.bus().empty() ? node : device.bus()) + ")";
        for (const DeviceListing &other : found)
            if (other.description == description) description = device.card() + " (" + node + ")";
        found.push_back({node, std::move(description)});
    }
    return found;
}

std::unique_ptr<Driver> makeV4l2Driver(std::shared_ptr<Io> io, DeviceListing listing) {
    return std::make_unique<V4l2Driver>(std::move(io), std::move(listing));
}

}  // namespace plat::avicap::v4l2
