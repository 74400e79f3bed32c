// The dialog controls' widgets: push buttons, check boxes, edit boxes,
// labels, icons, group boxes and combo boxes.
#include <windows.h>
#include <commctrl.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>

#include <algorithm>
#include <cstring>
#include <optional>

#include "display/qt/controls.h"
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
    if (name == "icon:#32513")
        which = QStyle::SP_MessageBoxCritical;
    else if (name == "icon:#32514")
        which = QStyle::SP_MessageBoxQuestion;
    else if (name == "icon:#32515")
        which = QStyle::SP_MessageBoxWarning;
    else if (name == "icon:#32516")
        which = QStyle::SP_MessageBoxInformation;
    else if (name == "icon:#32512")
        which = QStyle::SP_DesktopIcon;
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

// ---- Push buttons and check boxes: a click is the control's own ----------------------

QWidget *makePushButton(QtDisplay &display, const View &view, const user::Window &, QWidget *parent) {
    HWND window = view.window;
    auto *button = new QPushButton(parent);
    QObject::connect(button, &QPushButton::clicked, button,
                     [&display, window] { display.act([window] { user::clickControl(window); }); });
    return button;
}

void showPushButton(QtDisplay &, View &view, const user::Window &w) {
    auto *button = static_cast<QPushButton *>(view.widget.data());
    const QString text = QString::fromLocal8Bit(windowText(view.window).c_str());
    if (button->text() != text) button->setText(text);
    button->setDefault(buttonType(w) == BS_DEFPUSHBUTTON);
}

QWidget *makeCheckBox(QtDisplay &display, const View &view, const user::Window &, QWidget *parent) {
    HWND window = view.window;
    auto *box = new QCheckBox(parent);
    QObject::connect(box, &QCheckBox::clicked, box,
                     [&display, window] { display.act([window] { user::clickControl(window); }); });
    return box;
}

void showCheckBox(QtDisplay &, View &view, const user::Window &) {
    auto *box = static_cast<QCheckBox *>(view.widget.data());
    const QString text = QString::fromLocal8Bit(windowText(view.window).c_str());
    if (box->text() != text) box->setText(text);
    box->setChecked(SendMessageA(view.window, BM_GETCHECK, 0, 0) == BST_CHECKED);
}

// ---- Edit boxes: typing sets the window's text ---------------------------------------

QWidget *makeEdit(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent) {
    HWND window = view.window;
    auto *edit = new QLineEdit(parent);
    if (w.style & ES_NUMBER) edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
    QObject::connect(edit, &QLineEdit::textEdited, edit, [&display, window](const QString &text) {
        display.act([window, bytes = text.toLocal8Bit()] { SetWindowTextA(window, bytes.constData()); });
    });
    return edit;
}

void showEdit(QtDisplay &, View &view, const user::Window &w) {
    auto *edit = static_cast<QLineEdit *>(view.widget.data());
    const QString text = QString::fromLocal8Bit(windowText(view.window).c_str());
    if (edit->text() != text) edit->setText(text);
    edit->setReadOnly(w.style & ES_READONLY);
}

// ---- Static texts, icons and group boxes ---------------------------------------------

QWidget *makeLabel(QtDisplay &, const View &, const user::Window &w, QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setWordWrap(true);
    const unsigned align = w.style & 0x03;
    label->setAlignment(Qt::AlignTop | (align == SS_CENTER  ? Qt::AlignHCenter
                                        : align == SS_RIGHT ? Qt::AlignRight
                                                            : Qt::AlignLeft));
    return label;
}

void showLabel(QtDisplay &, View &view, const user::Window &) {
    auto *label = static_cast<QLabel *>(view.widget.data());
    const QString text = withoutMnemonics(windowText(view.window));
    if (label->text() != text) label->setText(text);
}

QWidget *makeIcon(QtDisplay &, const View &view, const user::Window &, QWidget *parent) {
    auto *label = new QLabel(parent);
    label->setPixmap(iconOf(view.window));
    return label;
}

QWidget *makeGroup(QtDisplay &, const View &, const user::Window &, QWidget *parent) { return new QGroupBox(parent); }

void showGroup(QtDisplay &, View &view, const user::Window &) {
    auto *group = static_cast<QGroupBox *>(view.widget.data());
    const QString text = withoutMnemonics(windowText(view.window));
    if (group->title() != text) group->setTitle(text);
}

// ---- Combo boxes: choosing an item selects it in the control -------------------------

QWidget *makeCombo(QtDisplay &display, const View &view, const user::Window &, QWidget *parent) {
    HWND window = view.window;
    auto *combo = new QComboBox(parent);
    QObject::connect(combo, &QComboBox::activated, combo, [&display, window](int index) {
        display.act([window, index] { user::selectComboItem(window, index); });
    });
    return combo;
}

void showCombo(QtDisplay &, View &view, const user::Window &) {
    auto *combo = static_cast<QComboBox *>(view.widget.data());
    QStringList items;
    for (const std::string &item : user::comboItems(view.window)) items << QString::fromLocal8Bit(item.c_str());
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    if (shown != items) {
        combo->clear();
        combo->addItems(items);
    }
    combo->setCurrentIndex(user::comboSelection(view.window));
}

}  // namespace plat::qt
