// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QImage>

#include "platform/Posix.h"

namespace kestrom::ui {

// The windows' icons, drawn here at 32 x 32 pixels in the 16 colours of the
// classic desktop palette, without anti-aliasing, so they stay crisp and flat.
// The main window's: two tag labels, the lower one under a mouse pointer.
QImage mainIconImage();
// The folder picker's: two tag labels with a yellow arrow from the upper to the lower.
QImage pickerIconImage();

// The main window's icon: the program's desktop icon as installed with it (the
// PNG sizes under share/icons/hicolor, found from the program's folder, which
// the build folder has too), read through posix. Where none of them can be read,
// a program copied without its data, the drawn mainIconImage().
QIcon mainIcon(platform::Posix& posix);
QIcon pickerIcon();

}  // namespace kestrom::ui
