// Title bars drawn by the display. Where no window manager decorates the
// windows (the VNC platform, a bare X server) a window would show neither
// its title nor a way to move it; the display then puts a bar of its own on
// top of each frame: the title, the close box of a window that has one, and
// dragging that moves the window (the model window follows when the drag
// ends).
#include <QApplication>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

#include <xcb/xcb.h>

#include <cstdlib>

#include "display/qt/qt_display_impl.h"
#include "display/qt/title_bar.h"

namespace plat::qt {

namespace {

class TitleBar final : public QWidget {
public:
    TitleBar(QtDisplay &display, HWND window, QWidget *frame) : QWidget(frame), display_(display), window_(window) {
        setObjectName("noctilTitleBar");
        QFont font = QApplication::font();
        font.setBold(true);
        setFont(font);
        setFixedHeight(QFontMetrics(font).height() + 8);
        const user::Window *w = user::find(window);
        if (w && (w->style & WS_SYSMENU)) {
            close_ = new QToolButton(this);
            close_->setText("X");
            close_->setToolTip("Close");
            close_->setAutoRaise(true);
            QObject::connect(close_, &QToolButton::clicked, close_,
                             [&display, window] { display.act([window] { user::clickCloseBox(window); }); });
        }
    }

    void setTitle(const QString &title) {
        if (title == title_) return;
        title_ = title;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        const bool active = window()->isActiveWindow();
        painter.fillRect(rect(), active ? QColor(0, 0, 128) : QColor(128, 128, 128));
        painter.setPen(active ? Qt::white : QColor(212, 208, 200));
        const int right = close_ ? close_->x() - 4 : width() - 4;
        const QRect text(6, 0, std::max(0, right - 6), height());
        painter.drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                         QFontMetrics(font()).elidedText(title_, Qt::ElideRight, text.width()));
    }

    void resizeEvent(QResizeEvent *) override {
        if (close_) close_->setGeometry(width() - height() + 2, 2, height() - 4, height() - 4);
    }

    void changeEvent(QEvent *event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::ActivationChange) update();  // the colour of an active bar
    }

    void mousePressEvent(QMouseEvent *event) override {
        if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
        grab_ = event->globalPosition().toPoint() - window()->pos();
        dragging_ = true;
        window()->raise();  // nobody else brings it forward
        HWND window = window_;
        display_.act([window] {
            if (user::activeWindow() != window) user::activate(window);
        });
    }

    void mouseMoveEvent(QMouseEvent *event) override {
        if (dragging_) window()->move(event->globalPosition().toPoint() - grab_);
    }

    void mouseReleaseEvent(QMouseEvent *event) override {
        if (!dragging_) return QWidget::mouseReleaseEvent(event);
        dragging_ = false;
        window()->move(event->globalPosition().toPoint() - grab_);
        HWND window = window_;
        const QPoint to = this->window()->pos();
        display_.act([window, to] {
            SetWindowPos(window, nullptr, to.x(), to.y(), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        });
    }

private:
    QtDisplay &display_;
    HWND window_;
    QString title_;
    QToolButton *close_ = nullptr;
    QPoint grab_;
    bool dragging_ = false;
};

// A window manager that follows the desktop conventions announces itself
// with _NET_SUPPORTING_WM_CHECK on the root window.
bool x11WindowManagerRuns() {
    auto *x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection) return true;  // nothing to ask: leave decoration to the system
    static constexpr char kName[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t *atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, sizeof kName - 1, kName), nullptr);
    if (!atom) return false;
    const xcb_atom_t check = atom->atom;
    free(atom);
    if (check == XCB_ATOM_NONE) return false;  // nobody ever announced one
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, screen->root, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool runs = reply && xcb_get_property_value_length(reply) >= 4;
    free(reply);
    return runs;
}

}  // namespace

bool windowManagerDecorates() {
    const QString platform = QGuiApplication::platformName();
    if (platform == "xcb") return x11WindowManagerRuns();
    // A Wayland compositor has the client decorate, which Qt does itself.
    return platform.startsWith("wayland");
}

QWidget *makeTitleBar(QtDisplay &display, HWND window, QWidget *frame) { return new TitleBar(display, window, frame); }

void updateTitleBar(QWidget *bar, const QString &title) {
    if (auto *titleBar = dynamic_cast<TitleBar *>(bar)) titleBar->setTitle(title);
}

}  // namespace plat::qt
