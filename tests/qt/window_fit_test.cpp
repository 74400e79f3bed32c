// Windows that fit and can be handled without a window manager: a message
// box shows every line of its text, and where the display draws the title
// bars (Qt's offscreen platform has no window manager) a window shows its
// title in one and a drag on it moves the window and its model window.
#include <windows.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

#include "qt_fixture.h"
#include "user/dialog_system.h"
#include "user/window_system.h"

namespace noctil::test {
namespace {

class QtFitTest : public QtDisplayTest {
public:
    static void sendKey(QWidget *widget, int key) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, key == Qt::Key_Return ? "\r" : "");
        QApplication::sendEvent(widget, &press);
    }

    // A mouse event at a point of the screen, as the window system gives it.
    static void sendMouse(QWidget *widget, QEvent::Type type, QPoint global) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, widget->mapFromGlobal(global), global, Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
};

struct BoxCase {
    const char *name;
    const char *text;
    UINT type;
    int lines;  // lines the text takes at least
};

const BoxCase kBoxes[] = {
    {"TwoLines", "Can't open AVI file C:\\Images.AVI\nPermission denied (giving up: jpqy)", MB_OK | MB_ICONHAND, 2},
    {"TwoLinesNoIcon", "Can't write AVI file\nNo space left on device", MB_OK, 2},
    {"OneLongLine",
     "Can't open AVI file C:\\a folder with a rather long name\\and another one below it\\Images_001.AVI", MB_OK, 1},
};

TEST_F(QtFitTest, MessageBoxesAreSizedToShowEveryLine) {
    for (const BoxCase &c : kBoxes) {
        QString problem;
        int result = 0;
        user().at(user().nowMs() + 10, [&] {
            auto open = plat::user::openDialogs();
            ASSERT_FALSE(open.empty());
            HWND box = open.back();
            QWidget *frame = widgetOf(box);
            QLabel *text = nullptr;
            QList<QPushButton *> buttons;
            for (HWND child : plat::user::children(box)) {
                QWidget *w = widgetOf(child);
                if (auto *label = qobject_cast<QLabel *>(w); label && label->pixmap().isNull()) text = label;
                if (auto *button = qobject_cast<QPushButton *>(w)) buttons << button;
            }
            ASSERT_NE(text, nullptr);
            const QFontMetrics metrics(text->font());
            const QRect needed =
                metrics.boundingRect(QRect(0, 0, text->width(), 100000), Qt::TextWordWrap, text->text());
            if (needed.height() > text->height() || needed.width() > text->width())
                problem += QString("text needs %1x%2, shown %3x%4; ")
                               .arg(needed.width())
                               .arg(needed.height())
                               .arg(text->width())
                               .arg(text->height());
            if (text->height() < c.lines * metrics.height()) problem += "fewer lines than the text has; ";
            const QRect area = text->parentWidget()->rect();
            if (!area.contains(text->geometry())) problem += "text outside the box; ";
            for (QPushButton *b : buttons) {
                if (b->geometry().intersects(text->geometry())) problem += "button over the text; ";
                if (!area.contains(b->geometry())) problem += "button outside the box; ";
            }
            if (std::string(c.name) == "TwoLines") saveScreenshot(box, "message-box-two-lines");
            sendKey(frame, Qt::Key_Return);
        });
        guard([&] { result = MessageBoxA(nullptr, c.text, "Error", c.type); });
        EXPECT_EQ(result, IDOK) << c.name;
        EXPECT_TRUE(problem.isEmpty()) << c.name << ": " << problem.toStdString();
    }
}

TEST_F(QtFitTest, OwnTitleBarShowsTheTitleAndADragMovesTheWindow) {
    ASSERT_TRUE(qt().drawsTitleBars());  // the offscreen platform has no window manager
    plat::user::registerClass("FitProbe", [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_CLOSE) {
            DestroyWindow(w);
            return 0;
        }
        if (m == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProcA(w, m, wp, lp);
    });
    HWND w = CreateWindowExA(0, "FitProbe", "C:\\Images.AVI - 3/10", WS_OVERLAPPEDWINDOW, 40, 30, 300, 200, nullptr,
                             nullptr, nullptr, nullptr);
    HWND bare =
        CreateWindowExA(0, "FitProbe", "no caption", WS_POPUP, 400, 30, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ShowWindow(w, SW_SHOWNORMAL);
    ShowWindow(bare, SW_SHOWNORMAL);
    QWidget *frame = widgetOf(w);
    ASSERT_NE(frame, nullptr);
    QWidget *bar = frame->findChild<QWidget *>("noctilTitleBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->y(), 0);
    EXPECT_EQ(widgetOf(bare)->findChild<QWidget *>("noctilTitleBar"), nullptr);  // no caption, no bar
    // The client area keeps the model's size below the bar.
    RECT client{};
    GetClientRect(w, &client);
    EXPECT_EQ(frame->height(), client.bottom + bar->height());
    // The title shows in the bar.
    const QImage shot = grab(w);
    int light = 0;
    for (int x = 0; x < shot.width(); ++x) light += qGray(shot.pixel(x, bar->height() / 2)) > 200;
    EXPECT_GT(light, 10);
    saveScreenshot(w, "own-title-bar");

    // A drag of 50 right and 40 down, then the close box.
    user().at(10, [&] {
        const QPoint start = bar->mapToGlobal(QPoint(60, 5));
        sendMouse(bar, QEvent::MouseButtonPress, start);
        sendMouse(bar, QEvent::MouseMove, start + QPoint(30, 20));
        sendMouse(bar, QEvent::MouseButtonRelease, start + QPoint(50, 40));
    });
    RECT moved{};
    user().at(20, [&] {
        GetWindowRect(w, &moved);
        bar->findChild<QToolButton *>()->click();
    });
    guard([&] {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    });
    EXPECT_EQ(moved.left, 90);
    EXPECT_EQ(moved.top, 70);
    EXPECT_FALSE(IsWindow(w));
    DestroyWindow(bare);
}

}  // namespace
}  // namespace noctil::test
