// The fixture of the Qt display's tests: a fresh platform session whose
// display is the Qt display on Qt's offscreen platform, paced by the
// headless display so time stays virtual and a scripted user acts at given
// times by working the Qt widgets as a person would.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <QImage>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/session.h"
#include "headless_display.h"
#include "display/qt/qt_display_impl.h"
#include "scripted_user.h"
#include "test_session.h"

namespace noctil::test {

class QtDisplayTest : public ::testing::Test {
public:
    QtDisplayTest();
    ~QtDisplayTest() override;

    plat::qt::QtDisplay &qt() { return *qt_; }
    ScriptedUser &user() { return user_; }
    const std::filesystem::path &root() const { return session_.root(); }

    // Runs `body`, turning a hang into a failure; false when it hung.
    bool guard(const std::function<void()> &body);
    // The widget of a window after the display has caught up with the model.
    QWidget *widgetOf(HWND window);
    // What the window shows now, as a person would see it.
    QImage grab(HWND window);
    // Saves a grab for the documentation when NOCTIL_SCREENSHOT_DIR names a
    // directory, else under the test's root; returns the file written.
    std::filesystem::path saveScreenshot(HWND window, const std::string &name);

private:
    plat::HeadlessDisplay *pacer_ = nullptr;
    plat::qt::QtDisplay *qt_ = nullptr;
    TestSession session_;
    ScriptedUser user_;
};

}  // namespace noctil::test
