#include "display/qt/dialog_fit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include <algorithm>

#include "display/qt/qt_display_impl.h"

namespace plat::qt {

namespace {

// The average character width as dialog base units define it: the width of
// the 52 letters, divided by 52 and rounded up.
double averageWidth(const QFont &font) {
    static const QString letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    return QFontMetricsF(font).horizontalAdvance(letters) / letters.size();
}

// Room a control leaves for its text on one line.
int textRoom(QWidget *control) {
    if (qobject_cast<QCheckBox *>(control))
        return control->width() - control->style()->pixelMetric(QStyle::PM_IndicatorWidth) - 6;
    if (qobject_cast<QPushButton *>(control)) return control->width() - 8;
    return control->width();
}

QString controlText(QWidget *control) {
    if (auto *button = qobject_cast<QAbstractButton *>(control)) return button->text().remove('&');
    if (auto *label = qobject_cast<QLabel *>(control); label && label->pixmap().isNull()) return label->text();
    return {};
}

// Controls whose text must stay on one line: buttons, check boxes, and
// labels not tall enough for two lines.
bool oneLine(QWidget *control, const QFont &font) {
    if (qobject_cast<QAbstractButton *>(control)) return true;
    return qobject_cast<QLabel *>(control) && control->height() < 2 * QFontMetrics(font).height();
}

}  // namespace

QFont dialogFont(const user::BaseUnits &units) {
    // The tallest face whose line fits the 8 dialog units of a one-line
    // control, narrowed until its average character is one horizontal base unit.
    QFont font = QApplication::font();
    int size = std::max(6, units.y);
    font.setPixelSize(size);
    while (size > 6 && QFontMetrics(font).height() > units.y) font.setPixelSize(--size);
    const double average = averageWidth(font);
    if (average > units.x) font.setStretch(std::clamp(static_cast<int>(100.0 * units.x / average), 60, 100));
    return font;
}

void applyDialogFont(QWidget *client, HWND window) {
    const std::optional<user::BaseUnits> units = user::dialogUnitsOf(window);
    if (!units) return;
    QFont font = dialogFont(*units);
    const QList<QWidget *> controls = client->findChildren<QWidget *>();
    // One font for the whole dialog: narrowed further, all together, while a
    // one-line text would still not fit its control.
    const auto tooWide = [&] {
        const QFontMetrics metrics(font);
        for (QWidget *control : controls) {
            const QString text = controlText(control);
            if (!text.isEmpty() && oneLine(control, font) && metrics.horizontalAdvance(text) >= textRoom(control))
                return true;
        }
        return false;
    };
    for (int stretch = font.stretch() ? font.stretch() : 100; stretch > 60 && tooWide();) {
        stretch -= 4;
        font.setStretch(stretch);
    }
    client->setFont(font);
    for (QWidget *control : controls) control->setFont(font);
}

void fitMessageBox(QtDisplay &display, HWND box) {
    // The box's text is its one label with words in it.
    HWND textControl = nullptr;
    for (HWND child : user::children(box))
        if (auto *label = qobject_cast<QLabel *>(display.widgetOf(child)); label && label->pixmap().isNull())
            textControl = child;
    QWidget *label = display.widgetOf(textControl);
    const user::Window *text = user::find(textControl);
    const user::Window *frame = user::find(box);
    if (!label || !text || !frame) return;
    const QFontMetrics metrics(label->font());
    const QString words = static_cast<QLabel *>(label)->text();
    // Lines longer than about seventy characters wrap rather than widen the box.
    const int widest = metrics.averageCharWidth() * 70;
    const int width =
        std::max(label->width(),
                 std::min(widest, metrics.boundingRect(QRect(0, 0, widest, 100000), Qt::TextWordWrap, words).width()));
    const QRect needed = metrics.boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, words);
    const int growX = std::max(0, needed.width() + 2 - label->width());
    const int growY = std::max(0, needed.height() + 2 - label->height());
    if (!growX && !growY) return;
    const RECT t = text->rect;
    MoveWindow(textControl, t.left, t.top, t.right - t.left + growX, t.bottom - t.top + growY, TRUE);
    // The buttons stay centred below the text.
    for (HWND child : user::children(box)) {
        const user::Window *c = user::find(child);
        if (!c || child == textControl || c->rect.top < t.bottom) continue;
        MoveWindow(child, c->rect.left + growX / 2, c->rect.top + growY, c->rect.right - c->rect.left,
                   c->rect.bottom - c->rect.top, TRUE);
    }
    const RECT f = frame->rect;
    SetWindowPos(box, nullptr, f.left - growX / 2, f.top - growY / 2, f.right - f.left + growX,
                 f.bottom - f.top + growY, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace plat::qt
