// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

namespace kestrom::ui {

// Shows text in a modal message box owned by owner (may be null): one OK
// button, no icon, the program's name "Kestrom" as its title. The text is shown
// as plain text, never as markup, since it may hold file names. Returns when the
// box has been closed.
void showMessage(QWidget* owner, const QString& text);

}  // namespace kestrom::ui
