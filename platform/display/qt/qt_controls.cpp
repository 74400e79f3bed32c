// Dialog controls and the toolbar as Qt widgets. Their state is read from
// the controls through their own messages each time the display catches up,
// so a check mark or a button state set without any notification still
// shows; what a person does goes back to the control or its parent.
#include <windows.h>
#include <commctrl.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <cstring>
#include <optional>

#include "display/qt/dib_image.h"
#include "display/qt/qt_display_impl.h"
#include "resources/resources.h"
#include "user/dialog_system.h"

namespace plat::qt {

namespace {


std::string windowText(HWND window) {
    char buffer[1024];
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

// Static text shows '&' as the mnemonic of the next character; a label has
// no keyboard use for it here, so the marker is dropped ("&&" is one '&').
QString withoutMnemonics(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return QString::fromLocal8Bit(out.c_str());
}

unsigned buttonType(const user::Window &w) { return w.style & 0x0F; }

// The system's own icons of message boxes, by their resource number.
QPixmap systemIcon(const std::string &name) {
    QStyle::StandardPixmap which = QStyle::SP_MessageBoxInformation;
    if (name == "icon:#32513") which = QStyle::SP_MessageBoxCritical;
    else if (name == "icon:#32514") which = QStyle::SP_MessageBoxQuestion;
    else if (name == "icon:#32515") which = QStyle::SP_MessageBoxWarning;
    else if (name == "icon:#32516") which = QStyle::SP_MessageBoxInformation;
    else if (name == "icon:#32512") which = QStyle::SP_DesktopIcon;
    return QApplication::style()->standardIcon(which).pixmap(32, 32);
}

// An icon resource's largest image, with its transparency mask applied.
QPixmap resourceIcon(HINSTANCE instance, const std::string &name) {
    const std::string ordinal = name.substr(name.find(':') + 1);
    LPCSTR resource = ordinal.starts_with('#') ? MAKEINTRESOURCEA(std::stoi(ordinal.substr(1))) : ordinal.c_str();
    auto images = res::loadIconGroup(instance, resource);
    if (!images || images->empty()) return {};
    const res::IconImage *best = &images->front();
    for (const auto &image : *images)
        if (image.width > best->width) best = &image;
    // The image holds the colour rows and then the transparency mask, one
    // bit per pixel, each bottom-up.
    std::span<const std::uint8_t> dib(best->dib);
    const std::size_t infoBytes = dibHeaderBytes(dib);
    QImage colour = packedDibToImage(dib, best->height);
    if (colour.isNull()) return {};
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.data(), sizeof h);
    const std::size_t xorStride = ((static_cast<std::size_t>(best->width) * h.biBitCount + 31) / 32) * 4;
    const std::size_t andStride = ((static_cast<std::size_t>(best->width) + 31) / 32) * 4;
    const std::size_t rows = static_cast<std::size_t>(best->height);
    if (dib.size() < infoBytes + rows * (xorStride + andStride)) return {};
    QImage image = colour.convertToFormat(QImage::Format_ARGB32);
    const std::uint8_t *mask = dib.data() + infoBytes + rows * xorStride;
    for (int y = 0; y < best->height; ++y) {
        const std::uint8_t *row = mask + andStride * static_cast<std::size_t>(best->height - 1 - y);
        auto *pixels = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < best->width; ++x)
            if (row[x / 8] & (0x80 >> (x % 8))) pixels[x] = qRgba(0, 0, 0, 0);
    }
    return QPixmap::fromImage(image);
}

QPixmap iconOf(HWND control) {
    HICON icon = user::staticIcon(control);
    const user::IconInfo *info = icon ? user::iconInfo(icon) : nullptr;
    if (!info) return {};
    return info->instance ? resourceIcon(info->instance, info->name) : systemIcon(info->name);
}

// ---- The toolbar ---------------------------------------------------------------------

// The images the toolbar was given, cut from its strip. The strip's light
// grey is the button face and shows through.
std::vector<QPixmap> toolbarPixmaps(HWND toolbar) {
    std::vector<QPixmap> out;
    std::optional<user::ToolbarImages> strip = user::toolbarImages(toolbar);
    if (!strip) return out;
    QImage image = packedDibToImage(strip->dib);
    if (image.isNull()) return out;
    image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *pixels = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((pixels[x] & 0xFFFFFF) == 0xC0C0C0) pixels[x] = qRgba(0, 0, 0, 0);
    }
    for (int x = 0; x + strip->imageWidth <= image.width(); x += strip->imageWidth)
        out.push_back(QPixmap::fromImage(image.copy(x, 0, strip->imageWidth, strip->imageHeight)));
    return out;
}

void buildToolbar(QtDisplay &display, View &view) {
    QWidget *bar = view.widget;
    qDeleteAll(bar->findChildren<QToolButton *>(Qt::FindDirectChildrenOnly));
    auto *layout = static_cast<QHBoxLayout *>(bar->layout());
    const std::vector<user::ToolbarButtonView> buttons = user::toolbarButtons(view.window);
    const std::vector<QPixmap> images = toolbarPixmaps(view.window);
    for (const user::ToolbarButtonView &b : buttons) {
        auto *button = new QToolButton(bar);
        button->setAutoRaise(false);
        button->setCheckable(true);  // shows TBSTATE_CHECKED as the pressed look
        button->setIconSize(images.empty() ? QSize(16, 15) : images.front().size());
        if (b.image >= 0 && static_cast<std::size_t>(b.image) < images.size()) button->setIcon(images[b.image]);
        button->setProperty("command", b.command);
        layout->addWidget(button);
        HWND toolbar = view.window;
        const int command = b.command;
        QObject::connect(button, &QToolButton::clicked, button, [&display, toolbar, command] {
            display.act([toolbar, command] { user::clickToolbarButton(toolbar, command); });
        });
    }
    layout->addStretch();
    view.toolbarButtons = static_cast<int>(buttons.size());
}

void updateToolbar(QtDisplay &display, View &view) {
    const std::uint64_t revision = user::toolbarRevision(view.window);
    if (revision != 0 && revision == view.toolbarRevision) return;
    view.toolbarRevision = revision;
    const std::vector<user::ToolbarButtonView> buttons = user::toolbarButtons(view.window);
    if (static_cast<int>(buttons.size()) != view.toolbarButtons) {
        // Rebuilt from scratch: drop the old stretch too.
        QLayout *layout = view.widget->layout();
        while (QLayoutItem *item = layout->takeAt(0)) delete item;
        buildToolbar(display, view);
    }
    const auto widgets = view.widget->findChildren<QToolButton *>(Qt::FindDirectChildrenOnly);
    for (std::size_t i = 0; i < buttons.size() && i < static_cast<std::size_t>(widgets.size()); ++i) {
        QToolButton *button = widgets[static_cast<qsizetype>(i)];
        const user::ToolbarButtonView &b = buttons[i];
        button->setEnabled(b.state & TBSTATE_ENABLED);
        button->setChecked(b.state & (TBSTATE_CHECKED | TBSTATE_PRESSED));
        button->setVisible(!(b.state & TBSTATE_HIDDEN) && !(b.style & TBSTYLE_SEP));
        const std::optional<std::string> tipText = user::toolbarTooltip(view.window, b.command);
        const QString tip = QString::fromLocal8Bit(tipText.value_or("").c_str());
        if (button->toolTip() != tip) button->setToolTip(tip);
    }
}

}  // namespace

ViewKind controlKind(const user::Window &w) {
    const std::string cls = [&] {
        std::string lower = w.className;
        for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower;
    }();
    if (cls == "button") {
        switch (buttonType(w)) {
            case BS_PUSHBUTTON:
            case BS_DEFPUSHBUTTON: return ViewKind::PushButton;
            case 7: return ViewKind::Group;  // BS_GROUPBOX
            default: return ViewKind::CheckBox;
        }
    }
    if (cls == "edit") return ViewKind::Edit;
    if (cls == "combobox") return ViewKind::Combo;
    if (cls == "static") return (w.style & 0x1F) == SS_ICON ? ViewKind::Icon : ViewKind::Label;
    if (cls == "toolbarwindow32") return ViewKind::Toolbar;
    return ViewKind::Surface;
}

QWidget *createControl(QtDisplay &display, View &view, const user::Window &w, QWidget *parent) {
    HWND window = view.window;
    switch (view.kind) {
        case ViewKind::PushButton: {
            auto *button = new QPushButton(parent);
            QObject::connect(button, &QPushButton::clicked, button,
                             [&display, window] { display.act([window] { user::clickControl(window); }); });
            return button;
        }
        case ViewKind::CheckBox: {
            auto *box = new QCheckBox(parent);
            QObject::connect(box, &QCheckBox::clicked, box,
                             [&display, window] { display.act([window] { user::clickControl(window); }); });
            return box;
        }
        case ViewKind::Edit: {
            auto *edit = new QLineEdit(parent);
            if (w.style & ES_NUMBER)
                edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
            QObject::connect(edit, &QLineEdit::textEdited, edit, [&display, window](const QString &text) {
                display.act([window, bytes = text.toLocal8Bit()] { SetWindowTextA(window, bytes.constData()); });
            });
            return edit;
        }
        case ViewKind::Label: {
            auto *label = new QLabel(parent);
            label->setWordWrap(true);
            const unsigned align = w.style & 0x03;
            label->setAlignment(Qt::AlignTop |
                                (align == SS_CENTER ? Qt::AlignHCenter : align == SS_RIGHT ? Qt::AlignRight
                                                                                          : Qt::AlignLeft));
            return label;
        }
        case ViewKind::Icon: {
            auto *label = new QLabel(parent);
            label->setPixmap(iconOf(window));
            return label;
        }
        case ViewKind::Group: return new QGroupBox(parent);
        case ViewKind::Combo: {
            auto *combo = new QComboBox(parent);
            QObject::connect(combo, &QComboBox::activated, combo, [&display, window](int index) {
                display.act([window, index] { user::selectComboItem(window, index); });
            });
            return combo;
        }
        case ViewKind::Toolbar: {
            auto *bar = new QWidget(parent);
            bar->setAutoFillBackground(true);
            auto *layout = new QHBoxLayout(bar);
            layout->setContentsMargins(2, 2, 2, 2);
            layout->setSpacing(1);
            return bar;
        }
        case ViewKind::Frame:
        case ViewKind::Surface: break;
    }
    return new QWidget(parent);
}

void updateControl(QtDisplay &display, View &view, const user::Window &w) {
    QWidget *widget = view.widget;
    switch (view.kind) {
        case ViewKind::PushButton: {
            auto *button = static_cast<QPushButton *>(widget);
            const QString text = QString::fromLocal8Bit(windowText(view.window).c_str());
            if (button->text() != text) button->setText(text);
            button->setDefault(buttonType(w) == BS_DEFPUSHBUTTON);
            break;
        }
        case ViewKind::CheckBox: {
            auto *box = static_cast<QCheckBox *>(widget);
            const QString text = QString::fromLocal8Bit(windowText(view.window).c_str());
            if (box->text() != text) box->setText(text);
            box->setChecked(SendMessageA(view.window, BM_GETCHECK, 0, 0) == BST_CHECKED);
            break;
        }
        case ViewKind::Edit: {
            auto *edit = static_cast<QLineEdit *>(widget);
            const QString text = QString::fromLocal8Bit(windowText(view.window).c_str());
            if (edit->text() != text) edit->setText(text);
            edit->setReadOnly(w.style & ES_READONLY);
            break;
        }
        case ViewKind::Label: {
            auto *label = static_cast<QLabel *>(widget);
            const QString text = withoutMnemonics(windowText(view.window));
            if (label->text() != text) label->setText(text);
            break;
        }
        case ViewKind::Group: {
            auto *group = static_cast<QGroupBox *>(widget);
            const QString text = withoutMnemonics(windowText(view.window));
            if (group->title() != text) group->setTitle(text);
            break;
        }
        case ViewKind::Combo: {
            auto *combo = static_cast<QComboBox *>(widget);
            QStringList items;
            for (const std::string &item : user::comboItems(view.window)) items << QString::fromLocal8Bit(item.c_str());
            QStringList shown;
            for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
            if (shown != items) {
                combo->clear();
                combo->addItems(items);
            }
            combo->setCurrentIndex(user::comboSelection(view.window));
            break;
        }
        case ViewKind::Toolbar: updateToolbar(display, view); break;
        case ViewKind::Icon:
        case ViewKind::Frame:
        case ViewKind::Surface: break;
    }
}

// ---- One font per dialog --------------------------------------------------------------

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
    if (average > units.x)
        font.setStretch(std::clamp(static_cast<int>(100.0 * units.x / average), 60, 100));
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
    const int width = std::max(
        label->width(), std::min(widest, metrics.boundingRect(QRect(0, 0, widest, 100000), Qt::TextWordWrap, words).width()));
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
    SetWindowPos(box, nullptr, f.left - growX / 2, f.top - growY / 2, f.right - f.left + growX, f.bottom - f.top + growY,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace plat::qt
