// The fixture every platform and program test starts from: a fresh platform
// session on a temporary root, the virtual clock, and the headless display
// driven by a scripted user. A run that hangs or passes its virtual-time
// limit fails the test with the reason instead of blocking.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "core/session.h"
#include "file_text.h"
#include "headless_display.h"
#include "scripted_user.h"
#include "test_session.h"

namespace noctil::test {

class PlatformTest : public ::testing::Test {
protected:
    PlatformTest();
    ~PlatformTest() override;

    const std::filesystem::path &root() const { return session_.root(); }
    plat::Session &session() { return session_.session(); }
    // Ends the session before the test does (what it leaves behind on the
    // root is then checked); the display and the user go with it.
    void endSession() { session_.end(); }
    plat::HeadlessDisplay &display() { return *display_; }
    ScriptedUser &user() { return user_; }
    std::uint32_t nowMs() const { return user_.nowMs(); }

    // The loop may not wait past this much virtual time (default one hour).
    void setTimeLimitMs(std::uint32_t ms);

    // Runs `body` (which runs a message loop), turning a hang into a test
    // failure; returns false when it hung.
    bool guard(const std::function<void()> &body);
    // A plain message loop until WM_QUIT; returns its exit code, or -1 after
    // a hang (which has failed the test).
    int runMessageLoop();

private:
    plat::HeadlessDisplay *display_ = nullptr;
    TestSession session_;
    ScriptedUser user_;
};

}  // namespace noctil::test
