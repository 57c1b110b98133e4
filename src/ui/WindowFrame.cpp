// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/WindowFrame.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>

#include "ui/Twips.h"

namespace kestrom::ui {

QFont windowFont() {
    QFont font = QApplication::font();
    font.setFamilies({font.family(), QStringLiteral("ＭＳ Ｐゴシック"),
                      QStringLiteral("IPAPGothic"), QStringLiteral("IPA Pゴシック")});
    return font;
}

void placeOnScreen(QWidget& dialog, const QWidget* owner, int leftTwips, int topTwips, QSize size) {
    const QScreen* screen = owner != nullptr ? owner->screen() : QApplication::primaryScreen();
    const QPoint origin = screen != nullptr ? screen->geometry().topLeft() : QPoint();
    // setGeometry() places the client area, not the frame, of a top-level window.
    dialog.setGeometry(QRect(origin + QPoint(twips(leftTwips), twips(topTwips)), size));
}

FixedDialog::FixedDialog(QWidget* owner, QSize clientSize)
    : QDialog(owner, Qt::Dialog | kCloseBoxOnly) {
    setModal(true);
    setFont(windowFont());
    setFixedSize(clientSize);
    setSizeGripEnabled(false);
}

void FixedDialog::keyPressEvent(QKeyEvent* event) {
    // QDialog closes on Escape and presses its default button on Enter; these
    // windows have neither, so both keys are left to the focused control.
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace kestrom::ui
