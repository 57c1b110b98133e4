// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Dialog1.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextOption>

#include "engine/Run.h"
#include "ui/FileNames.h"
#include "ui/Twips.h"

namespace kestrom::ui {

Dialog1::Dialog1(QWidget* owner) : FixedDialog(owner, twipsSize(5775, 2730)) {
    setObjectName(QStringLiteral("Dialog1"));
    setWindowTitle(QStringLiteral("Copy Error List"));
    placeOnScreen(*this, owner, 2760, 3750, size());

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setGeometry(twipsRect(2040, 2220, 1695, 375));
    OKButton->setAutoDefault(false);

    ErrList = new QPlainTextEdit(this);
    ErrList->setObjectName(QStringLiteral("ErrList"));
    ErrList->setGeometry(twipsRect(120, 120, 5535, 1935));
    // No scroll bars: long lines wrap, file names without blanks anywhere, and
    // lines below the box are reached with the caret.
    ErrList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ErrList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ErrList->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    ErrList->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    ErrList->setTabChangesFocus(true);

    setTabOrder(OKButton, ErrList);
    OKButton->setFocus();
    connect(OKButton, &QPushButton::clicked, this, &Dialog1::OKButton_Click);
    Form_Load();
}

void Dialog1::Form_Load() {
    // Each line of the list ends in CR LF; the text box takes that pair as one line break.
    ErrList->setPlainText(fromFileName(engine::ErrorListText));
}

void Dialog1::OKButton_Click() {
    accept();
}

}  // namespace kestrom::ui
