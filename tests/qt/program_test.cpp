// The real program on the Qt display: a person opens its menus, turns the
// live preview on, records through the toolbar on the simulated camera,
// opens the Setup dialog and closes the main window. Screenshots of both
// windows and of the dialog are saved along the way (into
// NOCTIL_SCREENSHOT_DIR when it is set, for the documentation).
#include <windows.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QToolButton>

#include "menu_states.h"
#include "qt_fixture.h"
#include "resource.h"
#include "resources/resources.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

// The Capture menu as the Qt display shows it, idle and during a run.
const ExpectedMenuItem kCaptureIdle[] = {{0, kItemText, "S&etup"},
                                         {0, kItemText, "&Record"},
                                         {0, kItemText | kItemGrayed, "St&op"},
                                         {0, kItemText, "&Pause"}};
const ExpectedMenuItem kCaptureRecording[] = {{0, kItemText, "S&etup"},
                                              {0, kItemText | kItemGrayed, "&Record"},
                                              {0, kItemText, "St&op"},
                                              {0, kItemText, "&Pause"}};

class QtProgramTest : public QtDisplayTest {
public:
    int runProgram() {
        static char commandLine[] = "";
        int code = -1;
        guard([&] { code = WinMain(plat::res::moduleInstance(), nullptr, commandLine, SW_SHOWNORMAL); });
        return code;
    }

    // Opens pop-up `index` of the window's menu bar as a click does and
    // returns its items as shown (known by their texts), then closes it again.
    std::vector<RecordedMenuItem> openMenu(HWND window, int index) {
        qt().sync();
        QMenu *menu = qt().menuBarOf(window)->actions().at(index)->menu();
        menu->popup(QPoint(0, 0));
        std::vector<RecordedMenuItem> out;
        for (QAction *a : menu->actions()) {
            if (a->isSeparator()) continue;
            RecordedMenuItem shown;
            shown.text = a->text().toStdString();
            shown.state = (a->isEnabled() ? 0u : UINT(MF_GRAYED)) | (a->isChecked() ? UINT(MF_CHECKED) : 0u);
            out.push_back(shown);
        }
        menu->hide();
        return out;
    }

    void chooseItem(HWND window, int index, const QString &text) {
        qt().sync();
        QMenu *menu = qt().menuBarOf(window)->actions().at(index)->menu();
        menu->popup(QPoint(0, 0));
        for (QAction *a : menu->actions())
            if (a->text() == text) a->trigger();
        menu->hide();
    }

    QList<QToolButton *> toolbarButtons(HWND main) {
        QWidget *bar = widgetOf(GetDlgItem(main, IDC_TOOLBAR));
        return bar ? bar->findChildren<QToolButton *>() : QList<QToolButton *>();
    }

    static void sendKey(QWidget *widget, int key, Qt::KeyboardModifiers modifiers, const QString &text) {
        QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(widget, &press);
    }

    // Replaces an edit box's text by typing, as a person does.
    static void typeInto(QLineEdit *edit, const QString &text) {
        edit->setFocus();
        edit->selectAll();
        for (QChar c : text) sendKey(edit, c.toUpper().unicode(), Qt::NoModifier, QString(c));
    }

    // The open dialog on top, after the display has caught up.
    HWND topDialog() {
        auto open = plat::user::openDialogs();
        return open.empty() ? nullptr : open.back();
    }
};

TEST_F(QtProgramTest, RecordsThroughTheToolbarAndShowsEveryWindow) {
    HWND main = nullptr, snapshot = nullptr;
    std::vector<RecordedMenuItem> options, captureIdle, captureRecording;
    QStringList tips;
    std::vector<QImage> images;
    QString snapshotTitle;
    QImage mainShot, snapshotShot, setupShot;
    bool setupSeen = false, exposureDigitsOnly = false, fileReadOnly = false;
    bool videoPlaced = false, videoVaried = false;

    user().at(500, [&] {
        main = FindWindowA("NoctilWndClass", nullptr);
        snapshot = FindWindowA("NoctilSnapshotClass", nullptr);
        ASSERT_TRUE(main && snapshot);
        options = openMenu(main, 1);
        captureIdle = openMenu(main, 2);
        chooseItem(main, 1, "&Preview");
        for (QToolButton *b : toolbarButtons(main)) {
            tips << b->toolTip();
            images.push_back(b->icon().pixmap(16, 15).toImage());
        }
    });
    user().at(900, [&] { saveScreenshot(main, "main-window"); });
    user().at(1000, [&] {
        auto buttons = toolbarButtons(main);
        ASSERT_EQ(buttons.size(), 4);
        buttons[0]->click();  // Record
    });
    user().at(2000, [&] { captureRecording = openMenu(main, 2); });
    // A 2-second exposure, its readout and the image: well done by 6 s.
    user().at(6000, [&] {
        snapshotTitle = widgetOf(snapshot)->windowTitle();
        mainShot = grab(main);
        snapshotShot = grab(snapshot);
        saveScreenshot(main, "main-window-recording");
        saveScreenshot(snapshot, "snapshot-window");
        // The live video shows in the capture window's place below the toolbar.
        for (HWND child : plat::user::children(main)) {
            QWidget *video = plat::user::paintSurface(child) ? widgetOf(child) : nullptr;
            if (!video) continue;
            RECT r{};
            GetWindowRect(child, &r);
            videoPlaced = video->size() == QSize(r.right - r.left, r.bottom - r.top) && video->isVisible();
            const QImage shot = video->grab().toImage();
            for (int y = 0; y < shot.height() && !videoVaried; y += 7)
                for (int x = 0; x < shot.width() && !videoVaried; x += 7)
                    videoVaried = shot.pixel(x, y) != shot.pixel(0, 0);
        }
        toolbarButtons(main)[1]->click();  // Stop
    });
    user().at(6500, [&] { toolbarButtons(main)[3]->click(); });  // Setup
    user().at(6600, [&] {
        auto open = plat::user::openDialogs();
        ASSERT_FALSE(open.empty());
        HWND dialog = open.back();
        setupSeen = widgetOf(dialog)->windowTitle() == "Setup Capture";
        auto *exposure = qobject_cast<QLineEdit *>(widgetOf(GetDlgItem(dialog, 1001)));
        auto *file = qobject_cast<QLineEdit *>(widgetOf(GetDlgItem(dialog, 1002)));
        exposureDigitsOnly = exposure && exposure->validator();
        fileReadOnly = file && file->isReadOnly();
        setupShot = grab(dialog);
        saveScreenshot(dialog, "setup-dialog");
        widgetOf(dialog)->close();
    });
    user().at(7000, [&] { widgetOf(main)->close(); });

    EXPECT_EQ(runProgram(), 0);

    // The driver entry appended at run time, checked as the connected driver.
    ASSERT_FALSE(options.empty());
    EXPECT_EQ(options.back().text.rfind("&0 ", 0), 0u) << options.back().text;
    EXPECT_TRUE(options.back().state & MF_CHECKED);
    EXPECT_TRUE(menuStatesMatch("Capture menu, idle", kCaptureIdle, captureIdle));
    EXPECT_TRUE(menuStatesMatch("Capture menu, recording", kCaptureRecording, captureRecording));
    EXPECT_EQ(tips, (QStringList{"Record", "Stop", "Pause", "Setup"}));
    // The four images of the toolbar bitmap: Record's is a red disc, Stop's
    // a black square, on the button face.
    ASSERT_EQ(images.size(), 4u);
    for (const QImage &image : images) EXPECT_FALSE(image.isNull());
    const QRgb record = images[0].pixel(8, 7), stop = images[1].pixel(8, 7);
    EXPECT_GT(qRed(record), 128);
    EXPECT_LT(qGreen(record), 64);
    EXPECT_LT(qRed(stop) + qGreen(stop) + qBlue(stop), 96);
    EXPECT_EQ(qAlpha(images[0].pixel(0, 0)), 0);

    EXPECT_TRUE(snapshotTitle.startsWith("C:\\Images.AVI - ")) << snapshotTitle.toStdString();
    EXPECT_TRUE(setupSeen);
    EXPECT_TRUE(exposureDigitsOnly);
    EXPECT_TRUE(fileReadOnly);
    ASSERT_FALSE(mainShot.isNull());
    ASSERT_FALSE(snapshotShot.isNull());
    EXPECT_FALSE(setupShot.isNull());

    // The image sits at the snapshot window's top-left corner at one pixel
    // per pixel: its area is not the plain background any more.
    const plat::user::PaintSurface *image = plat::user::paintSurface(snapshot);
    ASSERT_NE(image, nullptr);
    int lit = 0;
    for (int y = 0; y < std::min(image->height, snapshotShot.height()); y += 4)
        for (int x = 0; x < std::min(image->width, snapshotShot.width()); x += 4)
            lit += snapshotShot.pixel(x, y) != qRgb(255, 255, 255);
    EXPECT_GT(lit, 100);

    EXPECT_TRUE(videoPlaced);
    EXPECT_TRUE(videoVaried);
}

TEST_F(QtProgramTest, AboutSaveAsAndMessageBoxesShowAsTheModelHasThem) {
    HWND main = nullptr;
    QString aboutTitle, saveTitle, boxTitle;
    QStringList types;
    bool aboutIcon = false, boxIcon = false;
    int aboutResult = 0;

    user().at(500, [&] {
        main = FindWindowA("NoctilWndClass", nullptr);
        ASSERT_NE(main, nullptr);
        plat::user::activate(main);
        sendKey(widgetOf(main), Qt::Key_Question, Qt::AltModifier | Qt::ShiftModifier, "?");
    });
    user().at(600, [&] {
        HWND about = topDialog();
        ASSERT_NE(about, nullptr);
        aboutTitle = widgetOf(about)->windowTitle();
        for (HWND child : plat::user::children(about))
            if (auto *label = qobject_cast<QLabel *>(widgetOf(child)); label && !label->pixmap().isNull())
                aboutIcon = true;
        saveScreenshot(about, "about-box");
        sendKey(widgetOf(about), Qt::Key_Return, Qt::NoModifier, "\r");
    });
    user().at(700, [&] {
        aboutResult = topDialog() ? -1 : 1;
        chooseItem(main, 0, "&Save images in...");
    });
    user().at(800, [&] {
        HWND save = topDialog();
        ASSERT_NE(save, nullptr);
        saveTitle = widgetOf(save)->windowTitle();
        for (HWND child : plat::user::children(save))
            if (auto *combo = qobject_cast<QComboBox *>(widgetOf(child)))
                for (int i = 0; i < combo->count(); ++i) types << combo->itemText(i);
        for (HWND child : plat::user::children(save))
            if (auto *edit = qobject_cast<QLineEdit *>(widgetOf(child))) typeInto(edit, "C:\\nowhere\\night.avi");
        saveScreenshot(save, "save-as-dialog");
        sendKey(widgetOf(save), Qt::Key_Return, Qt::NoModifier, "\r");
    });
    user().at(900, [&] {
        HWND box = topDialog();
        ASSERT_NE(box, nullptr);
        boxTitle = widgetOf(box)->windowTitle();
        for (HWND child : plat::user::children(box))
            if (auto *label = qobject_cast<QLabel *>(widgetOf(child)); label && !label->pixmap().isNull())
                boxIcon = true;
        saveScreenshot(box, "path-missing-box");
        sendKey(widgetOf(box), Qt::Key_Return, Qt::NoModifier, "\r");
    });
    user().at(1000, [&] {
        if (HWND save = topDialog()) sendKey(widgetOf(save), Qt::Key_Escape, Qt::NoModifier, "\x1b");
    });
    user().at(1100, [&] { widgetOf(main)->close(); });

    EXPECT_EQ(runProgram(), 0);
    EXPECT_EQ(aboutTitle, "About");
    EXPECT_TRUE(aboutIcon);
    EXPECT_EQ(aboutResult, 1);
    EXPECT_EQ(saveTitle, "Save images in...");
    EXPECT_EQ(types, (QStringList{"Microsoft AVI", "All Files"}));
    EXPECT_EQ(boxTitle, "Save images in...");
    EXPECT_TRUE(boxIcon);
    // The path did not exist, so the name was not taken.
    const auto &boxes = plat::user::messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("C:\\nowhere\\night.avi"), std::string::npos) << boxes[0].text;
}

}  // namespace
}  // namespace noctil::test
