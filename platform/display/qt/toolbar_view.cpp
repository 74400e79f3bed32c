// The toolbar: one tool button per toolbar button, with the image cut from
// the strip the program gave, its state, its tooltip; a click is the
// window system's toolbar button press.
#include <windows.h>
#include <commctrl.h>

#include <QHBoxLayout>
#include <QToolButton>

#include <optional>
#include <vector>

#include "display/qt/controls.h"
#include "display/qt/dib_image.h"
#include "display/qt/qt_display_impl.h"
#include "user/dialog_system.h"

namespace plat::qt {

namespace {

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

}  // namespace

void showToolbar(QtDisplay &display, View &view, const user::Window &) {
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

QWidget *makeToolbar(QtDisplay &, const View &, const user::Window &, QWidget *parent) {
    auto *bar = new QWidget(parent);
    bar->setAutoFillBackground(true);
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(1);
    return bar;
}

}  // namespace plat::qt
