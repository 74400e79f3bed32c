#include "test_drivers.h"

#include <algorithm>
#include <cstring>

#include "avicap/driver_dialogs.h"
#include "avicap/driver.h"
#include "core/session.h"

namespace plat::avicap {

namespace {

class TestDriver final : public ClockPacedDriver {
public:
    TestDriver(std::shared_ptr<const TestDriverPlan> plan, Clock &clock)
        : ClockPacedDriver(clock), plan_(std::move(plan)) {}

    std::string description() const override { return plan_->description; }
    std::string version() const override { return plan_->version; }

    bool open() override {
        if (plan_->failsToOpen || plan_->formats.empty()) {
            ++plan_->log->failedOpens;
            return false;
        }
        ++plan_->log->opens;
        open_ = true;
        return true;
    }
    void close() override {
        if (!open_) return;
        open_ = false;
        ++plan_->log->closes;
    }

    DriverCaps caps() const override { return plan_->caps; }
    std::span<const BITMAPINFOHEADER> formats() const override { return plan_->formats; }
    std::size_t formatIndex() const override { return formatIndex_; }
    bool selectFormat(std::size_t index) override {
        if (index >= plan_->formats.size()) return false;
        formatIndex_ = index;
        return true;
    }

    std::size_t captureFrame(Micros time, std::span<std::uint8_t> frame) override {
        const std::size_t bytes = std::min(frameBytes(format()), frame.size());
        TestDriverLog &log = *plan_->log;
        log.frameTimes.push_back(time);
        log.frameBuffers.push_back(frame.data());
        const std::size_t n = frameCount_++;
        if (plan_->frames.empty()) {
            std::memset(frame.data(), static_cast<int>((n + 1) & 0xFF), bytes);
        } else {
            const auto &source = plan_->frames[std::min(n, plan_->frames.size() - 1)];
            const std::size_t copied = std::min(bytes, source.size());
            std::memcpy(frame.data(), source.data(), copied);
            std::memset(frame.data() + copied, 0, bytes - copied);
        }
        return bytes;
    }

    bool videoSourceDialog(HWND owner) override {
        if (!plan_->realDialogs) return plan_->sourceDialogConfirms;
        return runSourceDialog(owner, plan_->description + " Source", {});
    }

    bool videoFormatDialog(HWND owner) override {
        if (plan_->realDialogs) {
            std::size_t index = formatIndex_;
            return runFormatDialog(owner, plan_->description + " Format", plan_->formats, index) && selectFormat(index);
        }
        if (plan_->formatDialogPicks < 0) return false;
        return selectFormat(static_cast<std::size_t>(plan_->formatDialogPicks));
    }

    void stopRequested(StreamControl &stream) override {
        ++plan_->log->stopRequests;
        // Only the outermost request delivers: the nested frame's own stop
        // request must not start another one.
        if (!plan_->deliversFrameOnStop || insideStop_) return;
        insideStop_ = true;
        if (stream.deliverExtraFrame()) ++plan_->log->extraFrames;
        insideStop_ = false;
    }

private:
    std::shared_ptr<const TestDriverPlan> plan_;
    std::size_t formatIndex_ = 0;
    std::size_t frameCount_ = 0;
    bool insideStop_ = false;
    bool open_ = false;
};

}  // namespace

void registerTestDriver(const std::string &name, TestDriverPlan plan) {
    auto shared = std::make_shared<const TestDriverPlan>(std::move(plan));
    Clock &clock = session().clock();
    registerDriverFactory(name, [shared, &clock] { return std::make_unique<TestDriver>(shared, clock); });
}

}  // namespace plat::avicap
