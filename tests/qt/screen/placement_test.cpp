// Top-level windows on screens of different sizes: the program's windows and
// a window asked for off the screen all lie within the screen's available
// area. Run once per screen size (Qt's offscreen platform reads the screen
// from the file its configfile argument names; NOCTIL_TEST_SCREEN says which).
#include <windows.h>

#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>

#include "qt_fixture.h"
#include "resources/resources.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

class QtPlacementTest : public QtDisplayTest {};

QString describe(const QRect &r) { return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()); }

TEST_F(QtPlacementTest, EveryTopLevelWindowLiesWithinTheScreen) {
    const char *expected = std::getenv("NOCTIL_TEST_SCREEN");
    ASSERT_NE(expected, nullptr);
    QScreen *screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const QSize size = screen->geometry().size();
    ASSERT_EQ(QString("%1x%2").arg(size.width()).arg(size.height()), QString(expected));
    const QRect available = screen->availableGeometry();

    QStringList outside, apart;
    int checked = 0;
    user().at(500, [&] {
        // A window asked for beyond the screen's far corner.
        plat::user::registerClass("FarProbe",
                                  [](HWND w, UINT m, WPARAM wp, LPARAM lp) { return DefWindowProcA(w, m, wp, lp); });
        HWND far = CreateWindowExA(0, "FarProbe", "far", WS_CAPTION | WS_THICKFRAME, 2500, 1500, 400, 300, nullptr,
                                   nullptr, nullptr, nullptr);
        ShowWindow(far, SW_SHOWNORMAL);
        qt().sync();
        for (HWND window : plat::user::topLevelWindows()) {
            QWidget *frame = widgetOf(window);
            if (!frame || !frame->isVisible()) continue;
            ++checked;
            const QRect shown = frame->frameGeometry();
            if (!available.contains(shown))
                outside << plat::user::find(window)->text.c_str() + (": " + describe(shown));
            RECT model{};
            GetWindowRect(window, &model);
            if (QPoint(model.left, model.top) != frame->pos())
                apart << plat::user::find(window)->text.c_str() +
                             QString(": model %1,%2").arg(model.left).arg(model.top);
        }
        saveScreenshot(FindWindowA("NoctilWndClass", nullptr), QString("placement-%1").arg(expected).toStdString());
        DestroyWindow(far);
        widgetOf(FindWindowA("NoctilWndClass", nullptr))->close();
    });
    static char commandLine[] = "";
    int code = -1;
    guard([&] { code = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL); });
    EXPECT_EQ(code, 0);
    EXPECT_GE(checked, 3);  // main window, snapshot window, the far one
    EXPECT_TRUE(outside.isEmpty()) << outside.join("; ").toStdString();
    EXPECT_TRUE(apart.isEmpty()) << apart.join("; ").toStdString();
}

}  // namespace
}  // namespace noctil::test
