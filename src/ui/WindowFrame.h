// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QFont>
#include <QKeyEvent>

class QWidget;

namespace kestrom::ui {

// A title bar with a close box and nothing else: no maximise, minimise or help button.
inline constexpr Qt::WindowFlags kCloseBoxOnly =
    Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// The desktop's user-interface font, with the proportional Japanese gothic
// faces first in line for the characters it lacks. The layouts were made for
// proportional Japanese text; a fixed-pitch fallback would make the longer
// Japanese captions overflow their controls.
QFont windowFont();

// Places a dialog's client area at a fixed point of the screen its owner is on,
// given in twips from the screen's top-left corner, with a fixed client size.
void placeOnScreen(QWidget& dialog, const QWidget* owner, int leftTwips, int topTwips, QSize size);

// The base of the two secondary windows: modal, fixed, transient for the main
// window (so the task bar does not list them), with no default button for Enter
// and no cancel action for Escape; Escape does nothing, the close box cancels.
class FixedDialog : public QDialog {
public:
    FixedDialog(QWidget* owner, QSize clientSize);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace kestrom::ui
