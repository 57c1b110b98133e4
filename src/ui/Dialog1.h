// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/WindowFrame.h"

class QPlainTextEdit;
class QPushButton;

namespace kestrom::ui {

// The error list window "Copy Error List": shows the last run's error list
// (engine::ErrorListText) in an editable text box and closes with OK. It reads
// the list when it is created and never writes it; edits in the box go with the
// window. Open it with exec(); create it afresh for every opening.
class Dialog1 : public FixedDialog {
    Q_OBJECT
public:
    explicit Dialog1(QWidget* owner);

private:
    void Form_Load();
    void OKButton_Click();

    QPushButton* OKButton;
    QPlainTextEdit* ErrList;
};

}  // namespace kestrom::ui
