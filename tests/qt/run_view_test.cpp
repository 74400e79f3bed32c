// What a person sees of a run on the Qt display: the status line under the
// main window through an exposure with the amplifier off, its readout, the
// delay and Stop; the keys reaching the main window from the start, the
// About box from each of its accelerators; the Setup dialog in one font.
// Screenshots for the documentation are saved along the way.
#include <windows.h>

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "files/paths.h"
#include "port/parallel_port.h"
#include "qt_fixture.h"
#include "resource.h"
#include "resources/resources.h"
#include "status_run.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

class QtRunViewTest : public QtDisplayTest {
public:
    void writeSettings(const char *bytes) {
        std::ofstream(plat::windowsDirectory() / "Noctil.ini", std::ios::binary) << bytes;
    }

    int runProgram() {
        static char commandLine[] = "";
        int code = -1;
        guard([&] { code = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL); });
        return code;
    }

    static HWND mainWindow() { return FindWindowA("NoctilWndClass", nullptr); }
    static HWND snapshotWindow() { return FindWindowA("NoctilSnapshotClass", nullptr); }

    // The status line as shown now, without the free-space part, which
    // depends on this machine's drive.
    std::string statusShown(bool catchUp = true) {
        if (catchUp) qt().sync();
        QLabel *line = qt().statusLineOf(mainWindow());
        if (!line) return "<no status line>";
        // Its two rows (the camera; the images) read as one line.
        const std::string text = line->text().trimmed().replace("\n", "  |  ").toStdString();
        return withoutFreeSpace(text);
    }

    static void sendKey(QWidget *widget, int key, Qt::KeyboardModifiers modifiers, const QString &text) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(widget, &press);
    }

    // Where X delivers a key: the focus widget of the active window.
    static QWidget *keyTarget() {
        return QApplication::focusWidget() ? QApplication::focusWidget() : QApplication::activeWindow();
    }

    // The toolbar's buttons: Record, Stop, Pause, Setup.
    QToolButton *toolbarButton(int index) {
        return widgetOf(GetDlgItem(mainWindow(), IDC_TOOLBAR))->findChildren<QToolButton *>().at(index);
    }

    // The whole screen as a VNC viewer would show it: every window at its
    // place over an empty desktop.
    void saveScreen(const std::string &name) {
        const char *dir = std::getenv("NOCTIL_SCREENSHOT_DIR");
        if (!dir || !*dir) return;
        QImage screen(QGuiApplication::primaryScreen()->size(), QImage::Format_RGB32);
        screen.fill(QColor(0, 96, 96));
        QPainter painter(&screen);
        for (HWND window : plat::user::topLevelWindows())
            if (QWidget *frame = widgetOf(window); frame && frame->isVisible())
                painter.drawImage(frame->pos(), frame->grab().toImage());
        painter.end();
        screen.save(QString::fromStdString((std::filesystem::path(dir) / (name + ".png")).string()));
    }

    static HWND topDialog() {
        auto open = plat::user::openDialogs();
        return open.empty() ? nullptr : open.back();
    }
};

TEST_F(QtRunViewTest, StatusLineFollowsAnExposureAReadoutADelayAndAStop) {
    writeSettings(kStatusRunSettings);
    std::vector<std::string> seen;
    std::string atReadout;
    plat::Subscription listener;
    int observer = 0;
    bool belowClient = false;

    user().at(500, [&] {
        seen.push_back(statusShown());
        QLabel *line = qt().statusLineOf(mainWindow());
        ASSERT_NE(line, nullptr);
        // The line is the display's own: below the program's client area.
        RECT client{};
        GetClientRect(mainWindow(), &client);
        QWidget *frame = widgetOf(mainWindow());
        belowClient = line->isVisible() && line->y() >= frame->height() - line->height() &&
                      frame->height() - line->height() >= client.bottom;
    });
    user().at(1000, [&] {
        toolbarButton(0)->click();  // Record
        listener = plat::session().component<plat::ParallelPort>().subscribe([&](const plat::PortWrite &w) {
            if ((w.value == 0x08 || w.value == 0x09) && atReadout.empty()) {
                qt().refreshStatusLine();
                atReadout = statusShown(false);
            }
        });
        observer = plat::user::subscribe([&](HWND window, plat::user::Change change) {
            if (window != snapshotWindow() || change != plat::user::Change::Text || observer == 0) return;
            plat::user::unsubscribe(observer);
            observer = 0;
            const std::uint32_t delayStartMs = user().nowMs();
            user().at(delayStartMs + 1000, [&] {
                seen.push_back(statusShown());
                saveScreenshot(mainWindow(), "main-window-delay");
            });
            user().at(delayStartMs + 1500, [&] {
                toolbarButton(1)->click();  // Stop
            });
            user().at(delayStartMs + 1600, [&] {
                seen.push_back(statusShown());
                widgetOf(mainWindow())->close();
            });
        });
    });
    user().at(1500, [&] { seen.push_back(statusShown()); });
    user().at(3500, [&] {
        saveScreenshot(mainWindow(), "main-window-exposing");
        saveScreenshot(snapshotWindow(), "snapshot-window-title-bar");
        saveScreen("screen-own-title-bars");
    });
    user().at(4500, [&] { seen.push_back(statusShown()); });

    EXPECT_EQ(runProgram(), 0);
    listener.reset();
    if (observer) plat::user::unsubscribe(observer);

    EXPECT_EQ(seen, kStatusRunLines);
    EXPECT_EQ(atReadout, kStatusAtReadout);
    EXPECT_TRUE(belowClient);
}

struct KeyCase {
    const char *name;
    int key;
    Qt::KeyboardModifiers modifiers;
    const char *text;
};

// Alt+? and Alt+/ as X delivers them on a usual layout, with and without
// the character Qt may leave out while Alt is held.
const KeyCase kAboutKeys[] = {
    {"AltShiftSlashAsQuestion", Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier, "?"},
    {"AltSlash", Qt::Key_Slash, Qt::AltModifier, "/"},
    {"AltQuestionWithoutText", Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier, ""},
    {"AltSlashWithoutText", Qt::Key_Slash, Qt::AltModifier, ""},
};

TEST_F(QtRunViewTest, MainWindowHasTheKeysFromTheStartAndEachAcceleratorOpensAbout) {
    bool mainActive = false;
    std::vector<std::string> opened;
    user().at(500, [&] { mainActive = QApplication::activeWindow() == widgetOf(mainWindow()); });
    std::uint32_t at = 600;
    for (const KeyCase &k : kAboutKeys) {
        user().at(at, [&k] { sendKey(keyTarget(), k.key, k.modifiers, k.text); });
        user().at(at + 100, [&] {
            HWND about = topDialog();
            opened.push_back(std::string(k.name) + ": " + (about ? widgetOf(about)->windowTitle().toStdString() : "-"));
            if (about) sendKey(widgetOf(about), Qt::Key_Escape, Qt::NoModifier, "\x1b");
        });
        at += 300;
    }
    user().at(at, [&] { widgetOf(mainWindow())->close(); });

    EXPECT_EQ(runProgram(), 0);
    EXPECT_TRUE(mainActive);
    const std::vector<std::string> expected = {"AltShiftSlashAsQuestion: About", "AltSlash: About",
                                               "AltQuestionWithoutText: About", "AltSlashWithoutText: About"};
    EXPECT_EQ(opened, expected);
}

TEST_F(QtRunViewTest, SetupDialogUsesOneFontAndEveryOneLineTextFits) {
    std::vector<QFont> fonts;
    QStringList cut;
    user().at(500, [&] { toolbarButton(3)->click(); });  // Setup
    user().at(600, [&] {
        HWND setup = topDialog();
        ASSERT_NE(setup, nullptr);
        for (HWND child : plat::user::children(setup)) {
            QWidget *control = widgetOf(child);
            if (!control) continue;
            fonts.push_back(control->font());
            QString text;
            int room = control->width();
            if (auto *button = qobject_cast<QAbstractButton *>(control)) {
                text = button->text().remove('&');
                room -= qobject_cast<QPushButton *>(control) ? 8 : 20;
            } else if (auto *label = qobject_cast<QLabel *>(control); label && label->pixmap().isNull()) {
                if (label->height() < 2 * QFontMetrics(label->font()).height()) text = label->text();
            }
            if (!text.isEmpty() && QFontMetrics(control->font()).horizontalAdvance(text) > room) cut << text;
        }
        saveScreenshot(setup, "setup-dialog");
        widgetOf(setup)->close();
    });
    user().at(700, [&] { widgetOf(mainWindow())->close(); });

    EXPECT_EQ(runProgram(), 0);
    ASSERT_GT(fonts.size(), 5u);
    for (const QFont &font : fonts) EXPECT_EQ(font, fonts.front()) << font.toString().toStdString();
    EXPECT_TRUE(cut.isEmpty()) << cut.join(", ").toStdString();
}

}  // namespace
}  // namespace noctil::test
