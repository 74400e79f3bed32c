// A dialog's look once its controls show their texts: one font for all of
// them, and a message box grown until its text shows whole.
#pragma once

#include <windows.h>

#include <QFont>
#include <QWidget>

#include "user/dialog_system.h"

namespace plat::qt {

class QtDisplay;

// One font for every control of a dialog: the face Qt has, at the size whose
// cell matches the dialog's base units, so the templates look as laid out.
QFont dialogFont(const user::BaseUnits &units);
void applyDialogFont(QWidget *client, HWND window);
// Grows a message box until its text shows whole.
void fitMessageBox(QtDisplay &display, HWND box);

}  // namespace plat::qt
