// SPDX-License-Identifier: GPL-3.0-or-later
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <memory>

#include "UiTest.h"
#include "engine/Run.h"
#include "ui/Dialog1.h"

using kestrom::engine::ErrorListText;
using kestrom::test::child;

class Dialog1Test : public QObject {
    Q_OBJECT

private slots:
    void fixedAtItsScreenPlaceTabOrderNoEnterOrEscape();
    void showsTheListVerbatimAndWrapsLongNames();

private:
    void open(std::string list);
    QPlainTextEdit* errList() {
        return child<QPlainTextEdit>(dialog.get(), QStringLiteral("ErrList"));
    }
    QPushButton* okButton() { return child<QPushButton>(dialog.get(), QStringLiteral("OKButton")); }

    std::unique_ptr<kestrom::ui::Dialog1> dialog;
};

void Dialog1Test::open(std::string list) {
    ErrorListText = std::move(list);
    dialog = std::make_unique<kestrom::ui::Dialog1>(nullptr);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QApplication::setActiveWindow(dialog.get());
}

void Dialog1Test::fixedAtItsScreenPlaceTabOrderNoEnterOrEscape() {
    open("");
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Copy Error List"));
    QCOMPARE(dialog->geometry(), QRect(184, 250, 385, 182));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QVERIFY(dialog->isModal());
    QVERIFY(!dialog->testAttribute(Qt::WA_SetWindowIcon));  // no icon of its own
    QCOMPARE(QApplication::focusWidget(), okButton());
    QTest::keyClick(okButton(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), errList());
    QTest::keyClick(errList(), Qt::Key_Tab);  // moves on, types no tab character
    QCOMPARE(QApplication::focusWidget(), okButton());
    QVERIFY(errList()->toPlainText().isEmpty());
    QTest::keyClick(okButton(), Qt::Key_Return);
    QTest::keyClick(okButton(), Qt::Key_Escape);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(okButton(), Qt::Key_Space);
    QVERIFY(!dialog->isVisible());
}

void Dialog1Test::showsTheListVerbatimAndWrapsLongNames() {
    const std::string longName(120, 'x');
    open("歌_K.mp3\r\nb.mp3\r\n" + longName + ".mp3\r\n");
    QCOMPARE(errList()->toPlainText(), QStringLiteral("歌_K.mp3\nb.mp3\n") +
                                           QString::fromStdString(longName) +
                                           QStringLiteral(".mp3\n"));
    QCOMPARE(errList()->textCursor().position(), 0);
    QVERIFY(kestrom::test::drawsEveryGlyph(QStringLiteral("歌_K.mp3"), errList()->font()));
    // The long name has no blank to break at, and still wraps within the box,
    // which has no scroll bars.
    QVERIFY(errList()->document()->findBlockByNumber(2).layout()->lineCount() > 1);
    QVERIFY(!errList()->verticalScrollBar()->isVisible());
    QVERIFY(!errList()->horizontalScrollBar()->isVisible());
}

KESTROM_UI_TEST_MAIN(Dialog1Test)
#include "Dialog1Test.moc"
