#include "platform_fixture.h"

#include "message_sequence.h"

#include "avicap/video_devices.h"
#include "fake_v4l2.h"

namespace noctil::test {

namespace {

std::unique_ptr<plat::HeadlessDisplay> newDisplay(plat::HeadlessDisplay *&raw) {
    auto display = std::make_unique<plat::HeadlessDisplay>();
    raw = display.get();
    return display;
}

constexpr std::uint32_t kDefaultLimitMs = 60 * 60 * 1000;

}  // namespace

PlatformTest::PlatformTest() : session_("noctil-test", SessionClock::Virtual, newDisplay(display_)), user_(*display_) {
    setTimeLimitMs(kDefaultLimitMs);
    // The machine's own video devices stay out of tests; a test that wants
    // devices puts a scripted fake in place.
    plat::avicap::v4l2::setSessionIo(noVideoDevices());
}

// The session ends before the scripted user goes, as it ended before the root went.
PlatformTest::~PlatformTest() { session_.end(); }

void PlatformTest::setTimeLimitMs(std::uint32_t ms) { display_->setTimeLimit(plat::Micros{ms} * 1000); }

bool PlatformTest::guard(const std::function<void()> &body) {
    try {
        body();
        return true;
    } catch (const plat::Hang &hang) {
        ADD_FAILURE() << "the run hung: " << hang.what();
        return false;
    }
}

int PlatformTest::runMessageLoop() {
    int code = -1;
    guard([&] {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0)) {
            TranslateMessage(&msg);
            dispatchNoted(msg);
        }
        code = static_cast<int>(msg.wParam);
    });
    return code;
}

}  // namespace noctil::test
