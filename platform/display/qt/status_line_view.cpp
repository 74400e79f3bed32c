#include "display/qt/status_line_view.h"

#include <QStyle>
#include <QTimer>

#include "core/session.h"
#include "user/window_system.h"

namespace plat::qt {

StatusLineView::StatusLineView(QWidget *frame, HWND mainWindow, bool ownTimer) : QLabel(frame), window_(mainWindow) {
    setObjectName("noctilStatusLine");
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setContentsMargins(4, 1, 4, 1);
    setTextFormat(Qt::PlainText);
    setAutoFillBackground(true);
    setText(" \n ");  // two rows from the start: the frame keeps its height
    if (!ownTimer) return;
    timer_ = std::make_unique<QTimer>();
    timer_->setInterval(200);
    QObject::connect(timer_.get(), &QTimer::timeout, timer_.get(), [this] { refresh(); });
    timer_->start();
}

StatusLineView::~StatusLineView() = default;

void StatusLineView::refresh() {
    if (!hasSession() || !user::find(window_)) return;
    watcher_.gather(window_, facts_);
    status::compose(facts_, line_);
    text_ = line_.camera;
    text_ += '\n';
    text_ += line_.output.empty() ? " " : line_.output;
    if (text_ != shownText_) {
        shownText_ = text_;
        const QString shown = QString::fromLocal8Bit(text_.c_str());
        if (text() != shown) {
            setText(shown);
            setToolTip(QString::fromLocal8Bit(line_.text.c_str()));
        }
    }
    // The style's palette is built anew on every request: its ink is asked
    // for once.
    if (!ink_.isValid()) ink_ = style()->standardPalette().color(QPalette::WindowText);
    const QColor ink = line_.warning ? QColor(176, 0, 0) : ink_;
    QPalette colours = palette();
    if (colours.color(QPalette::WindowText) != ink) {
        colours.setColor(QPalette::WindowText, ink);
        setPalette(colours);
    }
}

}  // namespace plat::qt
