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
using kestrom::ui::Dialog1;

class Dialog1Test : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fixedModalWindowAtItsScreenPlace();
    void tabOrderAndNoDefaultOrCancelKey();
    void showsTheListVerbatimAndWrapsLongNames();
    void longListHasNoScrollBarAndIsReachedWithTheCaret();
    void editsAreNeitherStoredNorKept();

private:
    void open();
    QPlainTextEdit* errList() {
        return child<QPlainTextEdit>(dialog.get(), QStringLiteral("ErrList"));
    }
    QPushButton* okButton() { return child<QPushButton>(dialog.get(), QStringLiteral("OKButton")); }

    std::unique_ptr<Dialog1> dialog;
};

void Dialog1Test::init() {
    ErrorListText.clear();
}

void Dialog1Test::cleanup() {
    dialog.reset();
}

void Dialog1Test::open() {
    dialog = std::make_unique<Dialog1>(nullptr);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QApplication::setActiveWindow(dialog.get());
}

void Dialog1Test::fixedModalWindowAtItsScreenPlace() {
    open();
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Copy Error List"));
    QCOMPARE(dialog->geometry(), QRect(184, 250, 385, 182));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QVERIFY(dialog->isModal());
    const Qt::WindowFlags flags = dialog->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                       Qt::WindowContextHelpButtonHint)));
    QVERIFY(!dialog->testAttribute(Qt::WA_SetWindowIcon));  // no icon of its own
    QCOMPARE(okButton()->geometry(), QRect(136, 148, 113, 25));
    QCOMPARE(okButton()->text(), QStringLiteral("OK"));
    QCOMPARE(errList()->geometry(), QRect(8, 8, 369, 129));
}

void Dialog1Test::tabOrderAndNoDefaultOrCancelKey() {
    open();
    QCOMPARE(QApplication::focusWidget(), okButton());
    QTest::keyClick(okButton(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), errList());
    QTest::keyClick(errList(), Qt::Key_Tab);  // moves on, types no tab character
    QCOMPARE(QApplication::focusWidget(), okButton());
    QVERIFY(errList()->toPlainText().isEmpty());

    QVERIFY(!okButton()->isDefault() && !okButton()->autoDefault());
    QTest::keyClick(okButton(), Qt::Key_Return);
    QTest::keyClick(okButton(), Qt::Key_Escape);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(okButton(), Qt::Key_Space);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
}

void Dialog1Test::showsTheListVerbatimAndWrapsLongNames() {
    const std::string longName(120, 'x');
    ErrorListText = "歌_K.mp3\r\nb.mp3\r\n" + longName + ".mp3\r\n";
    open();
    QCOMPARE(errList()->toPlainText(), QStringLiteral("歌_K.mp3\nb.mp3\n") +
                                           QString::fromStdString(longName) +
                                           QStringLiteral(".mp3\n"));
    QCOMPARE(errList()->textCursor().position(), 0);  // shown from the first line
    QVERIFY(kestrom::test::drawsEveryGlyph(QStringLiteral("歌_K.mp3"), errList()->font()));
    // The long name has no blank to break at, and still wraps within the box.
    const QTextBlock block = errList()->document()->findBlockByNumber(2);
    QVERIFY(block.layout()->lineCount() > 1);
    QCOMPARE(errList()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(errList()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

void Dialog1Test::longListHasNoScrollBarAndIsReachedWithTheCaret() {
    for (int i = 0; i < 40; ++i) ErrorListText += "song" + std::to_string(i) + ".mp3\r\n";
    open();
    QCOMPARE(errList()->height(), 129);
    QVERIFY(!errList()->verticalScrollBar()->isVisible());
    QCOMPARE(errList()->cursorForPosition(QPoint(2, 2)).blockNumber(), 0);
    errList()->setFocus();
    QTest::keyClick(errList(), Qt::Key_End, Qt::ControlModifier);
    QVERIFY(errList()->cursorForPosition(QPoint(2, 2)).blockNumber() > 20);
}

void Dialog1Test::editsAreNeitherStoredNorKept() {
    ErrorListText = "a.mp3\r\n";
    open();
    errList()->setFocus();
    QTest::keyClicks(errList(), QStringLiteral("typed"));
    QVERIFY(errList()->toPlainText().contains(QStringLiteral("typed")));
    QTest::mouseClick(okButton(), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(ErrorListText, std::string("a.mp3\r\n"));
    open();
    QCOMPARE(errList()->toPlainText(), QStringLiteral("a.mp3\n"));
}

KESTROM_UI_TEST_MAIN(Dialog1Test)
#include "Dialog1Test.moc"
