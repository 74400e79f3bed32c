// Dialog controls and the toolbar as Qt widgets, one maker and one updater
// per kind of view (the rows of the table in views.cpp). Their state is read
// from the controls through their own messages each time the display
// catches up, so a check mark or a button state set without any
// notification still shows; what a person does goes back to the control or
// its parent as an action.
#pragma once

#include <QWidget>

#include "display/qt/view.h"

namespace plat::qt {

// Which kind of control a child window is; Surface when it is none.
ViewKind controlKind(const user::Window &w);

QWidget *makePushButton(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);
QWidget *makeCheckBox(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);
QWidget *makeEdit(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);
QWidget *makeLabel(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);
QWidget *makeIcon(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);
QWidget *makeGroup(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);
QWidget *makeCombo(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);
QWidget *makeToolbar(QtDisplay &display, const View &view, const user::Window &w, QWidget *parent);

void showPushButton(QtDisplay &display, View &view, const user::Window &w);
void showCheckBox(QtDisplay &display, View &view, const user::Window &w);
void showEdit(QtDisplay &display, View &view, const user::Window &w);
void showLabel(QtDisplay &display, View &view, const user::Window &w);
void showGroup(QtDisplay &display, View &view, const user::Window &w);
void showCombo(QtDisplay &display, View &view, const user::Window &w);
void showToolbar(QtDisplay &display, View &view, const user::Window &w);

}  // namespace plat::qt
