#include "qt_fixture.h"

#include <QPixmap>

#include <cstdlib>

namespace noctil::test {

namespace {

std::unique_ptr<plat::Display> makeDisplay(plat::HeadlessDisplay *&pacer, plat::qt::QtDisplay *&qt) {
    auto headless = std::make_unique<plat::HeadlessDisplay>();
    pacer = headless.get();
    auto display = std::make_unique<plat::qt::QtDisplay>(std::move(headless));
    qt = display.get();
    return display;
}

constexpr plat::Micros kTimeLimit = plat::Micros{10} * 60 * 1000 * 1000;

}  // namespace

QtDisplayTest::QtDisplayTest()
    : session_("noctil-qt", SessionClock::Virtual, makeDisplay(pacer_, qt_)), user_(*pacer_) {
    pacer_->setTimeLimit(kTimeLimit);
}

QtDisplayTest::~QtDisplayTest() { session_.end(); }

bool QtDisplayTest::guard(const std::function<void()> &body) {
    try {
        body();
        return true;
    } catch (const plat::Hang &hang) {
        ADD_FAILURE() << "the run hung: " << hang.what();
        return false;
    }
}

QWidget *QtDisplayTest::widgetOf(HWND window) {
    qt_->sync();
    return qt_->widgetOf(window);
}

QImage QtDisplayTest::grab(HWND window) {
    QWidget *widget = widgetOf(window);
    return widget ? widget->grab().toImage() : QImage();
}

std::filesystem::path QtDisplayTest::saveScreenshot(HWND window, const std::string &name) {
    const char *dir = std::getenv("NOCTIL_SCREENSHOT_DIR");
    std::filesystem::path path = (dir && *dir ? std::filesystem::path(dir) : root()) / (name + ".png");
    grab(window).save(QString::fromStdString(path.string()));
    return path;
}

}  // namespace noctil::test
