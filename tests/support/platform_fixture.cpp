#include "platform_fixture.h"

#include "message_sequence.h"

#include <stdlib.h>

#include <string>

#include "avicap/v4l2/v4l2_io.h"
#include "fake_v4l2.h"

namespace noctil::test {

std::filesystem::path makeTempDirectory(const char *prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary platform root");
    return pattern;
}

namespace {

std::unique_ptr<plat::HeadlessDisplay> newDisplay(plat::HeadlessDisplay *&raw) {
    auto display = std::make_unique<plat::HeadlessDisplay>();
    raw = display.get();
    return display;
}

constexpr std::uint32_t kDefaultLimitMs = 60 * 60 * 1000;

}  // namespace

PlatformTest::PlatformTest()
    : root_(makeTempDirectory("noctil-test")),
      session_(std::make_unique<plat::Session>(plat::SessionOptions{root_, true, newDisplay(display_)})),
      user_(*display_) {
    setTimeLimitMs(kDefaultLimitMs);
    // The machine's own video devices stay out of tests; a test that wants
    // devices puts a scripted fake in place.
    plat::avicap::v4l2::setSessionIo(noVideoDevices());
}

PlatformTest::~PlatformTest() {
    session_.reset();
    std::error_code ignored;  // a root left behind in the temporary directory is harmless
    std::filesystem::remove_all(root_, ignored);
}

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
