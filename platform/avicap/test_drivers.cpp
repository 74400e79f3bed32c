#include "avicap/test_drivers.h"

#include <algorithm>
#include <cstring>

#include "avicap/driver_dialogs.h"

namespace plat::avicap {

namespace {

class TestDriver final : public Driver {
public:
    explicit TestDriver(std::shared_ptr<const TestDriverSpec> spec) : spec_(std::move(spec)) {}

    std::string description() const override { return spec_->description; }
    std::string version() const override { return spec_->version; }

    bool open() override {
        if (spec_->failsToOpen || spec_->formats.empty()) {
            ++spec_->log->failedOpens;
            return false;
        }
        ++spec_->log->opens;
        open_ = true;
        return true;
    }
    void close() override {
        if (!open_) return;
        open_ = false;
        ++spec_->log->closes;
    }

    DriverCaps caps() const override { return spec_->caps; }
    std::span<const BITMAPINFOHEADER> formats() const override { return spec_->formats; }
    std::size_t formatIndex() const override { return formatIndex_; }
    bool selectFormat(std::size_t index) override {
        if (index >= spec_->formats.size()) return false;
        formatIndex_ = index;
        return true;
    }

    std::size_t captureFrame(Micros time, std::span<std::uint8_t> frame) override {
        const std::size_t bytes = std::min(frameBytes(format()), frame.size());
        TestDriverLog &log = *spec_->log;
        log.frameTimes.push_back(time);
        log.frameBuffers.push_back(frame.data());
        const std::size_t n = frameCount_++;
        if (spec_->frames.empty()) {
            std::memset(frame.data(), static_cast<int>((n + 1) & 0xFF), bytes);
        } else {
            const auto &source = spec_->frames[std::min(n, spec_->frames.size() - 1)];
            const std::size_t copied = std::min(bytes, source.size());
            std::memcpy(frame.data(), source.data(), copied);
            std::memset(frame.data() + copied, 0, bytes - copied);
        }
        return bytes;
    }

    bool videoSourceDialog(HWND owner) override {
        if (!spec_->realDialogs) return spec_->sourceDialogConfirms;
        return runSourceDialog(owner, spec_->description + " Source", {});
    }

    bool videoFormatDialog(HWND owner) override {
        if (spec_->realDialogs) {
            std::size_t index = formatIndex_;
            return runFormatDialog(owner, spec_->description + " Format", spec_->formats, index) && selectFormat(index);
        }
        if (spec_->formatDialogPicks < 0) return false;
        return selectFormat(static_cast<std::size_t>(spec_->formatDialogPicks));
    }

    void stopRequested(StreamControl &stream) override {
        ++spec_->log->stopRequests;
        // Only the outermost request delivers: the nested frame's own stop
        // request must not start another one.
        if (!spec_->deliversFrameOnStop || insideStop_) return;
        insideStop_ = true;
        if (stream.deliverExtraFrame()) ++spec_->log->extraFrames;
        insideStop_ = false;
    }

private:
    std::shared_ptr<const TestDriverSpec> spec_;
    std::size_t formatIndex_ = 0;
    std::size_t frameCount_ = 0;
    bool insideStop_ = false;
    bool open_ = false;
};

}  // namespace

void registerTestDriver(const std::string &name, TestDriverSpec spec) {
    auto shared = std::make_shared<const TestDriverSpec>(std::move(spec));
    registerDriverFactory(name, [shared] { return std::make_unique<TestDriver>(shared); });
}

}  // namespace plat::avicap
