#include "avicap/simcam.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "avicap/grey_rows.h"
#include "avicap/sky.h"

namespace plat::avicap {

namespace {

constexpr unsigned kEvenRows = 1;  // rows 0, 2, 4 ... in memory order
constexpr unsigned kOddRows = 2;   // rows 1, 3, 5 ...
constexpr unsigned kAllRows = kEvenRows | kOddRows;

bool integrating(std::uint8_t level) { return (level & kIntegrateBits) == kIntegrateBits; }
bool amplifierOn(std::uint8_t level) { return (level & kAmplifierOffBit) == 0; }
bool readingOut(std::uint8_t level) { return (level & 0x0A) == 0x08; }

double seconds(Micros t) { return static_cast<double>(t) / 1e6; }

class SimulatedCamera final : public ClockPacedDriver {
public:
    SimulatedCamera(Clock &clock, ParallelPort &port, SkySettings sky, std::unique_ptr<SimulatedCameraDialogs> dialogs)
        : ClockPacedDriver(clock),
          settings_(sky),
          dialogs_(std::move(dialogs)),
          port_(port),
          formats_{makeFormat(640, 480, 24, BI_RGB), makeFormat(640, 480, 16, kFourccYUY2),
                   makeFormat(320, 240, 24, BI_RGB), makeFormat(320, 240, 16, kFourccYUY2),
                   makeFormat(720, 576, 24, BI_RGB), makeFormat(720, 576, 16, kFourccYUY2)} {}
    ~SimulatedCamera() override { close(); }

    std::string description() const override { return kSimulatedCameraDescription; }
    std::string version() const override { return "Version 1.0, synthetic sky"; }

    bool open() override {
        if (open_) return true;
        level_ = port_.data();
        levelSince_ = clock().now();
        subscription_ = port_.subscribe([this](const PortWrite &w) { portWritten(w); });
        buildSky();
        open_ = true;
        return true;
    }

    void close() override {
        if (!open_) return;
        subscription_.reset();
        open_ = false;
    }

    DriverCaps caps() const override {
        return {.overlay = false, .sourceDialog = dialogs_ != nullptr, .formatDialog = dialogs_ != nullptr};
    }
    std::span<const BITMAPINFOHEADER> formats() const override { return formats_; }
    std::size_t formatIndex() const override { return formatIndex_; }

    bool selectFormat(std::size_t index) override {
        if (index >= formats_.size()) return false;
        const bool resized =
            formats_[index].biWidth != format().biWidth || formats_[index].biHeight != format().biHeight;
        formatIndex_ = index;
        if (open_ && resized) buildSky();
        return true;
    }

    std::size_t captureFrame(Micros time, std::span<std::uint8_t> frame) override;

    bool videoSourceDialog(HWND owner) override {
        if (!dialogs_ || !dialogs_->videoSource(owner, settings_)) return false;
        if (open_) buildSky();
        return true;
    }

    bool videoFormatDialog(HWND owner) override {
        std::size_t index = formatIndex_;
        if (!dialogs_ || !dialogs_->videoFormat(owner, formats_, index)) return false;
        return selectFormat(index);
    }

private:
    // The noise-free levels of one charge over the whole scene, kept while
    // frames go on using it.
    struct ChargeLevels {
        RowCharge charge;
        std::vector<FineLevel> fine;
        std::uint64_t lastUse = 0;
        bool valid = false;
        // Every level the same (a dark sensor: the bias alone). Such rows
        // are drawn from that one level: a frame then reads only the noise,
        // which matters when the frame's tables have left the cache.
        bool uniform = false;
    };
    // Live video, amplifier on and off, a dark sensor and a released charge
    // are the most a run alternates between.
    static constexpr std::size_t kKeptCharges = 4;

    void buildSky() {
        sky_.build(format().biWidth, std::abs(format().biHeight), settings_);
        for (ChargeLevels &c : levels_) {
            c.fine.assign(static_cast<std::size_t>(sky_.width()) * static_cast<std::size_t>(sky_.height()), 0);
            c.valid = false;
        }
    }

    // The levels of `charge`, computed now unless kept; the least recently
    // used ones make room.
    const ChargeLevels &levelsOf(RowCharge charge) {
        ChargeLevels *slot = &levels_[0];
        for (ChargeLevels &c : levels_) {
            if (c.valid && c.charge == charge) {
                c.lastUse = frameNumber_;
                return c;
            }
            if (!c.valid || (slot->valid && c.lastUse < slot->lastUse)) slot = &c;
        }
        sky_.chargeLevels(charge, slot->fine);
        slot->charge = charge;
        slot->valid = true;
        slot->lastUse = frameNumber_;
        slot->uniform =
            std::adjacent_find(slot->fine.begin(), slot->fine.end(), std::not_equal_to<>()) == slot->fine.end();
        return *slot;
    }

    // Integration follows the port: time at an integration level adds to the
    // charge (and to the glow while the amplifier is on); the step into a
    // readout level moves the charge of one or both fields out to the next
    // frame; anything else clears the sensor the way normal video does.
    void portWritten(const PortWrite &w) {
        if (w.address != kCameraPortAddress) return;
        const double held = seconds(std::max<Micros>(0, w.time - levelSince_));
        if (integrating(level_)) {
            lightSeconds_ += held;
            if (amplifierOn(level_)) glowSeconds_ += held;
        }
        const std::uint8_t previous = level_;
        level_ = w.value;
        levelSince_ = w.time;
        if (integrating(level_)) {
            if (!integrating(previous)) {
                lightSeconds_ = glowSeconds_ = 0;
                heldRows_ = 0;
            }
            return;
        }
        if (integrating(previous)) {
            heldRows_ = kAllRows;
            heldCharge_ = {lightSeconds_, glowSeconds_};
        }
        if (readingOut(level_) && heldRows_) {
            const bool fieldWise = interlaced() && level_ == kReadoutOddField;
            const unsigned rows = fieldWise ? (heldRows_ & kOddRows) : heldRows_;
            if (rows) {
                pendingRows_ |= rows;
                pendingCharge_ = heldCharge_;
                heldRows_ &= ~rows;
            }
            return;
        }
        if (!readingOut(level_)) heldRows_ = 0;
    }

    // 480 and 576 lines are interlaced video (NTSC and PAL), whose charge
    // the camera reads out one field per readout pass.
    bool interlaced() const {
        const LONG lines = std::abs(format().biHeight);
        return lines == 480 || lines == 576;
    }

    RowCharge chargeOfRow(int memoryRow, unsigned released) const {
        if (released & (memoryRow % 2 ? kOddRows : kEvenRows)) return pendingCharge_;
        if (integrating(level_)) return {};  // the sensor is busy integrating: the video is dark
        const double live = seconds(kVideoFrameMicros);
        return {live, amplifierOn(level_) ? live : 0.0};
    }

    SkySettings settings_;
    std::unique_ptr<SimulatedCameraDialogs> dialogs_;
    ParallelPort &port_;
    std::array<BITMAPINFOHEADER, 6> formats_;
    std::size_t formatIndex_ = 0;
    Sky sky_;
    bool open_ = false;
    Subscription subscription_;

    std::uint8_t level_ = 0;
    Micros levelSince_ = 0;
    double lightSeconds_ = 0, glowSeconds_ = 0;  // integrated so far
    unsigned heldRows_ = 0;                      // fields still on the sensor after integration
    RowCharge heldCharge_;
    unsigned pendingRows_ = 0;  // fields the next frame carries
    RowCharge pendingCharge_;
    std::uint64_t frameNumber_ = 0;
    std::array<ChargeLevels, kKeptCharges> levels_;
    std::array<std::uint8_t, 1024> rowLevels_{};
};

std::size_t SimulatedCamera::captureFrame(Micros time, std::span<std::uint8_t> frame) {
    const BITMAPINFOHEADER &f = format();
    const std::size_t bytes = frameBytes(f);
    if (!open_ || frame.size() < bytes) return 0;
    const int width = sky_.width(), height = sky_.height();
    const bool yuv = f.biCompression == kFourccYUY2;
    const bool bottomUp = !yuv && f.biHeight > 0;
    const std::size_t stride = bytes / static_cast<std::size_t>(height);
    const std::size_t padding = yuv ? 0 : stride - 3 * static_cast<std::size_t>(width);
    const unsigned released = pendingRows_;
    pendingRows_ = 0;
    std::uint64_t noise = settings_.skyNumber ^ (++frameNumber_ * 0xD1B54A32D192ED03ull);
    // A frame carries at most two charges: one per field.
    const ChargeLevels &evenRows = levelsOf(chargeOfRow(0, released));
    const ChargeLevels &oddRows = levelsOf(chargeOfRow(1, released));

    for (int r = 0; r < height; ++r) {
        const int sceneRow = bottomUp ? height - 1 - r : r;
        const ChargeLevels &levels = r % 2 ? oddRows : evenRows;
        if (levels.uniform)
            sky_.renderUniformRow(levels.fine.front(), noise, rowLevels_.data());
        else
            sky_.renderRow(levels.fine.data() + static_cast<std::size_t>(sceneRow) * width, noise, rowLevels_.data());
        std::uint8_t *out = frame.data() + static_cast<std::size_t>(r) * stride;
        if (yuv) {
            greyToYuy2(rowLevels_.data(), width, out);
        } else {
            greyToRgb24(rowLevels_.data(), width, out);
            std::memset(out + 3 * width, 0, padding);
        }
    }
    (void)time;
    return bytes;
}

}  // namespace

std::unique_ptr<ClockPacedDriver> makeSimulatedCamera(Clock &clock, ParallelPort &port, SkySettings sky,
                                                      std::unique_ptr<SimulatedCameraDialogs> dialogs) {
    return std::make_unique<SimulatedCamera>(clock, port, sky, std::move(dialogs));
}

}  // namespace plat::avicap
