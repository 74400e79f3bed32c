#include "display/qt/menus.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "display/qt/frame.h"
#include "display/qt/qt_display_impl.h"

namespace plat::qt {

namespace {

void fillMenu(QtDisplay &display, HWND window, QMenu *menu, HMENU source);

// Called while the pop-up is about to show: the program has just had its
// WM_INITMENU, so the items are rebuilt from the model as they now are.
void refreshMenu(QtDisplay &display, HWND window, QMenu *menu, HMENU source) {
    qDeleteAll(menu->findChildren<QMenu *>(Qt::FindDirectChildrenOnly));
    menu->clear();
    fillMenu(display, window, menu, source);
}

// A pop-up of the menu bar. Opening it is WM_INITMENU to the window, after
// which it shows the items as the program has just left them.
QMenu *newPopup(QtDisplay &display, HWND window, const QString &title, HMENU source, QWidget *parent) {
    auto *popup = new QMenu(title, parent);
    QObject::connect(popup, &QMenu::aboutToShow, popup, [&display, window, popup, source] {
        if (!IsWindow(window)) return;
        user::openMenu(window);
        refreshMenu(display, window, popup, source);
    });
    fillMenu(display, window, popup, source);
    return popup;
}

void fillMenu(QtDisplay &display, HWND window, QMenu *menu, HMENU source) {
    for (const user::MenuItemView &item : user::menuItems(source)) {
        const QString text = QString::fromLocal8Bit(item.text.c_str());
        const bool enabled = !(item.flags & (MF_GRAYED | MF_DISABLED));
        if (item.flags & MF_SEPARATOR || (item.text.empty() && !item.popup)) {
            menu->addSeparator();
        } else if (item.flags & MF_POPUP) {
            QMenu *sub = newPopup(display, window, text, item.popup, menu);
            sub->setEnabled(enabled);
            menu->addMenu(sub);
        } else {
            QAction *action = menu->addAction(text);
            action->setCheckable(item.flags & MF_CHECKED);
            action->setChecked(item.flags & MF_CHECKED);
            action->setEnabled(enabled);
            const UINT id = item.id;
            QObject::connect(action, &QAction::triggered, action, [&display, window, id] {
                display.act([window, id] { user::chooseMenuCommand(window, id); });
            });
        }
    }
}

}  // namespace

bool rebuildMenuBar(QtDisplay &display, View &view) {
    Frame *frame = frameOf(view);
    const user::Window *w = user::find(view.window);
    HMENU menu = w ? w->menu : nullptr;
    if (view.menuBar)
        for (QAction *action : view.menuBar->actions())
            if (action->menu() && action->menu()->isVisible()) return false;
    // Never called from inside one of the bar's own Qt handlers, so the old
    // bar can go at once.
    delete view.menuBar.data();
    view.menu = menu;
    if (menu) {
        auto *bar = new QMenuBar(frame);
        tagWithWindow(bar, view.window);
        for (const user::MenuItemView &item : user::menuItems(menu)) {
            const QString text = QString::fromLocal8Bit(item.text.c_str());
            if (item.flags & MF_POPUP) {
                QMenu *popup = newPopup(display, view.window, text, item.popup, bar);
                popup->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
                bar->addMenu(popup);
            } else if (!(item.flags & MF_SEPARATOR)) {
                QAction *action = bar->addAction(text);
                action->setEnabled(!(item.flags & (MF_GRAYED | MF_DISABLED)));
                HWND window = view.window;
                const UINT id = item.id;
                QObject::connect(action, &QAction::triggered, action, [&display, window, id] {
                    display.act([window, id] { user::chooseMenuCommand(window, id); });
                });
            }
        }
        bar->show();
        view.menuBar = bar;
    }
    const int before = frame->menuHeight();
    frame->setParts(view.menuBar, view.client);
    if (frame->menuHeight() != before) view.hasPlaced = false;  // the frame grows or shrinks with its bar
    return true;
}

}  // namespace plat::qt
