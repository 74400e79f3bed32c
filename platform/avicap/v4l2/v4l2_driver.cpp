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
#include "avicap/v4l2/v4l2_dialogs.h"
#include "avicap/v4l2/v4l2_listing.h"

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
    V4l2Driver(std::shared_ptr<Io> io, DeviceListing listing, Clock &clock)
        : io_(std::move(io)), listing_(std::move(listing)), clock_(clock) {}
    ~V4l2Driver() override { close(); }

    std::string description() const override { return listing_.description; }
    std::string version() const override { return "V4L2 device " + listing_.node; }

    bool open() override;
    void close() override;

    DriverCaps caps() const override {
        return {.overlay = false, .sourceDialog = true, .formatDialog = true, .watched = true};
    }
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
    void idle() override;
    std::string takeNotice() override;

    bool videoSourceDialog(HWND owner) override;
    bool videoFormatDialog(HWND owner) override;

private:
    // What the device is set to while it streams.
    struct Setup {
        std::optional<std::uint32_t> input;
        std::optional<v4l2_std_id> standard;
        FrameFormat format;
    };

    // Stops, frees the buffers, and maps and starts them again in `format`.
    bool restart(const FrameFormat &format);
    // The device listed under its description, or in another socket the
    // only one of its card.
    std::optional<DeviceListing> findAgain() const;
    // A device that is back, set up as it streamed before it was lost.
    bool setUpAsBefore();
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
    Clock &clock_;
    std::unique_ptr<Device> device_;
    std::vector<FrameFormat> frameFormats_;
    std::vector<BITMAPINFOHEADER> headers_;
    std::size_t formatIndex_ = 0;
    std::string failure_;
    int failureCode_ = 0;
    Setup inUse_;
    // A device that failed is closed; the input, standard and format it
    // streamed in are the ones it is set up in again when it is back.
    std::optional<Setup> lost_;
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
    frameFormats_ = listFrameFormats(*device_);
    // A device that takes a range of sizes is listed at common sizes; the
    // size it is set to now is one of its own, and the nearest of all.
    const std::optional<FrameFormat> current = currentFormat(*device_);
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
    const std::vector<Standard> standards = listStandards(*device_);
    if (standards.empty()) return;  // an input without TV standards
    const std::optional<v4l2_std_id> received = receivedStandard(*device_);
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
    const std::optional<v4l2_std_id> current = currentStandard(*device_);
    if (current && (*current & *received) && linesOf(*current) == linesOf(all)) return;  // already on it
    if (!selectStandard(*device_, chosen.id)) {
        std::string own = "its own standard";
        for (const Standard &s : standards)
            if (current && s.id == *current) own = s.name;
        notice_ = listing_.description + " receives " + chosen.name + " but refused to switch to it (" +
                  device_->error() + "); it stays on " + own + ". Choose the standard in Video Source.";
        std::fprintf(stderr, "v4l2: %s: %s\n", node, notice_.c_str());
        return;
    }
    std::fprintf(stderr, "v4l2: %s: receives %s; selected\n", node, chosen.name.c_str());
    // Saved with the device's choices: put back at every connection, and
    // when the device comes back.
    saveDeviceSettings(listing_.description, {{kStandardKey, chosen.name}});
}

bool V4l2Driver::startChosenFormat() {
    const std::optional<std::string> saved = savedDeviceSetting(listing_.description, kFormatKey);
    std::optional<std::size_t> savedIndex;
    for (std::size_t i = 0; i < frameFormats_.size() && !savedIndex; ++i)
        if (saved && formatKey(frameFormats_[i]) == *saved) savedIndex = i;
    const std::optional<v4l2_std_id> standard = currentStandard(*device_);
    std::vector<std::size_t> order =
        formatPreference(frameFormats_, currentFormat(*device_), standard ? linesOf(*standard) : 0);
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
    inUse_ = {currentInput(*device_), currentStandard(*device_), device_->format()};
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
    if (!frameFormats_.empty() && !lost_) lost_ = inUse_;
    lostError_ = device_->error();
    device_.reset();
}

// The device is found again by its description, whichever node it has now,
// and set up as saved, in the input, standard and format it streamed in.
Driver::Recovery V4l2Driver::recover(bool eager) {
    if (device_) return Recovery::Working;
    if (!lost_) return Recovery::NotBack;  // it never connected
    const Micros now = clock_.now();
    if (!eager && now - lookedAt_ < 1000000) return Recovery::NotBack;
    lookedAt_ = now;
    const std::optional<DeviceListing> found = findAgain();
    if (!found) return Recovery::NotBack;
    auto device = std::make_unique<Device>(io_, found->node);
    if (!device->open()) return Recovery::NotBack;
    device_ = std::move(device);
    listing_.node = found->node;
    restoreSettings();
    if (!setUpAsBefore()) {
        std::fprintf(stderr, "v4l2: %s: back, but cannot be set up again: %s\n", listing_.node.c_str(),
                     device_->error().c_str());
        lostError_ = device_->error();
        device_.reset();
        return Recovery::NotBack;
    }
    std::fprintf(stderr, "v4l2: %s: %s is back\n", listing_.node.c_str(), listing_.description.c_str());
    lost_.reset();
    failure_.clear();
    failureCode_ = 0;
    return Recovery::Back;
}

std::optional<DeviceListing> V4l2Driver::findAgain() const {
    const std::vector<DeviceListing> listed = listDevices(*io_);
    for (const DeviceListing &found : listed)
        if (found.description == listing_.description) return found;
    // A USB grabber plugged into another socket has another bus: the same
    // card is the same device as long as no other one could be meant.
    const auto sameCard = [&](const DeviceListing &found) { return found.card == listing_.card; };
    if (std::count_if(listed.begin(), listed.end(), sameCard) != 1) return std::nullopt;
    const DeviceListing &found = *std::find_if(listed.begin(), listed.end(), sameCard);
    std::fprintf(stderr, "v4l2: %s: %s found again as %s\n", found.node.c_str(), listing_.description.c_str(),
                 found.description.c_str());
    return found;
}

// The input and standard the run recorded with are put back whatever was
// saved (a standard found at the first connection included: a USB grabber
// comes back at its own, NTSC, whatever the camera sends). A device that
// does not take them again would fill the frames of the format it streamed
// in with a picture of other lines; it is set up in the nearest format of
// the standard it is on instead, so that the program sees another format
// and ends its run, or, where the format would not tell, it stays away.
bool V4l2Driver::setUpAsBefore() {
    const Setup &was = *lost_;
    const char *node = listing_.node.c_str();
    if (was.input && currentInput(*device_) != was.input && !selectInput(*device_, *was.input))
        std::fprintf(stderr, "v4l2: %s: the input it streamed on: %s\n", node, device_->error().c_str());
    if (was.standard && currentStandard(*device_) != was.standard && !selectStandard(*device_, *was.standard))
        std::fprintf(stderr, "v4l2: %s: the standard it streamed in: %s\n", node, device_->error().c_str());
    loadFormats();
    if (frameFormats_.empty()) return false;
    const std::optional<std::uint32_t> input = currentInput(*device_);
    const std::optional<v4l2_std_id> standard = currentStandard(*device_);
    if (input == was.input && standard == was.standard) return restart(was.format);
    if (input != was.input) {
        std::fprintf(stderr, "v4l2: %s: back without the input it streamed on; not used\n", node);
        return false;
    }
    const FrameFormat own =
        frameFormats_[formatPreference(frameFormats_, currentFormat(*device_), standard ? linesOf(*standard) : 0)
                          .front()];
    std::fprintf(stderr, "v4l2: %s: back on another standard than it streamed in; set up in %s\n", node,
                 formatKey(own).c_str());
    if (own == was.format) return false;  // the program could not tell: not used
    return restart(own);
}

// Nobody reads the frames: finished buffers are given back, and a device
// that went away is let go at once, so that it can come back. A stream that
// broke is left for the next stream to meet and tell, as before.
void V4l2Driver::idle() {
    if (!device_ || !device_->streaming()) return;
    device_->drain();
    if (device_->broken() && device_->errorCode() == ENODEV) deviceFailed();
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
    const FrameWait wait = device_->readFrame(deadline, frame, clock_);
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
        const std::vector<Input> inputs = listInputs(*device_);
        const auto at = std::find_if(inputs.begin(), inputs.end(), [&](const Input &in) { return in.name == *name; });
        if (at == inputs.end())
            std::fprintf(stderr, "v4l2: %s: the saved input '%s' no longer exists; the device's own is used\n",
                         listing_.node.c_str(), name->c_str());
        else if (!selectInput(*device_, at->index))
            std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), device_->error().c_str());
    }
    if (const auto name = savedDeviceSetting(section, kStandardKey)) {
        standardSaved = true;
        const std::vector<Standard> standards = listStandards(*device_);
        const auto at =
            std::find_if(standards.begin(), standards.end(), [&](const Standard &s) { return s.name == *name; });
        if (at == standards.end())
            std::fprintf(stderr, "v4l2: %s: the saved standard '%s' is not offered; the device's own is used\n",
                         listing_.node.c_str(), name->c_str());
        else if (!selectStandard(*device_, at->id))
            std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), device_->error().c_str());
    }
    for (const Control &c : listControls(*device_)) {
        const auto saved = savedDeviceSetting(section, controlKey(c));
        if (!saved) continue;
        char *end = nullptr;
        const long value = std::strtol(saved->c_str(), &end, 10);
        if (end == saved->c_str() || *end || value < c.minimum || value > c.maximum)
            std::fprintf(stderr, "v4l2: %s: the saved %s '%s' is out of its range; not set\n", listing_.node.c_str(),
                         c.name.c_str(), saved->c_str());
        else if (value != c.value && !setControl(*device_, c.id, static_cast<std::int32_t>(value)))
            std::fprintf(stderr, "v4l2: %s: %s refused %ld: %s\n", listing_.node.c_str(), c.name.c_str(), value,
                         device_->error().c_str());
    }
    return standardSaved;
}

void V4l2Driver::saveSettings() {
    DeviceSettings values;
    const std::optional<std::uint32_t> input = currentInput(*device_);
    for (const Input &in : listInputs(*device_))
        if (input && in.index == *input) values.emplace_back(kInputKey, in.name);
    const std::optional<v4l2_std_id> standard = currentStandard(*device_);
    for (const Standard &s : listStandards(*device_))
        if (standard && s.id == *standard) {
            values.emplace_back(kStandardKey, s.name);
            break;
        }
    values.emplace_back(kFormatKey, formatKey(frameFormats_[formatIndex_]));
    for (const Control &c : listControls(*device_)) values.emplace_back(controlKey(c), std::to_string(c.value));
    saveDeviceSettings(listing_.description, values);
}

void V4l2Driver::refused(HWND owner, const char *dialog, const std::string &what) {
    const std::string text = listing_.description + " refused " + what + ":\n" + deviceError();
    std::fprintf(stderr, "v4l2: %s: %s\n", listing_.node.c_str(), text.c_str());
    tellRefused(owner, dialog, text);
}

// The user's choices set on the device; a new input or standard changes
// the frames, so the buffers are remade in the nearest format.
bool V4l2Driver::videoSourceDialog(HWND owner) {
    if (!device_ || !device_->isOpen()) return false;
    const SourceState now{listInputs(*device_), currentInput(*device_), listStandards(*device_),
                          currentStandard(*device_), listControls(*device_)};
    SourceAnswer answer;
    if (!askVideoSource(owner, now, answer)) return false;

    const Input *input = answer.input ? &now.inputs[*answer.input] : nullptr;
    const Standard *standard = answer.standard ? &now.standards[*answer.standard] : nullptr;
    const bool newInput = input && (!now.input || input->index != *now.input);
    const bool newStandard = standard && (!now.standard || standard->id != *now.standard);
    if (newInput || newStandard) {
        device_->stop();
        device_->uninit();
        if (newInput && !selectInput(*device_, input->index))
            refused(owner, "Video Source", "the input " + input->name);
        // The standards belong to the input: ask again after a new input.
        if (standard) {
            const std::vector<Standard> offered = listStandards(*device_);
            const auto at = std::find_if(offered.begin(), offered.end(),
                                         [&](const Standard &s) { return s.name == standard->name; });
            if (at != offered.end() && !selectStandard(*device_, at->id))
                refused(owner, "Video Source", "the standard " + standard->name);
        }
        // The frame size the new standard brought if the device can hand
        // it over, else the nearest one.
        loadFormats();
        const std::optional<v4l2_std_id> taken = currentStandard(*device_);
        const std::vector<std::size_t> order =
            formatPreference(frameFormats_, currentFormat(*device_), taken ? linesOf(*taken) : 0);
        if (frameFormats_.empty() || !restart(frameFormats_[order.front()])) {
            deviceFailed();
            return false;
        }
    }
    for (const auto &[control, value] : answer.controls)
        if (!setControl(*device_, control->id, value))
            refused(owner, "Video Source", control->name + " = " + std::to_string(value));
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
        found.push_back({node, std::move(description), device.card()});
    }
    return found;
}

std::unique_ptr<Driver> makeV4l2Driver(std::shared_ptr<Io> io, DeviceListing listing, Clock &clock) {
    return std::make_unique<V4l2Driver>(std::move(io), std::move(listing), clock);
}

}  // namespace plat::avicap::v4l2
