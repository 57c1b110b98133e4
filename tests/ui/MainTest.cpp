// SPDX-License-Identifier: GPL-3.0-or-later
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>

#include "UiTest.h"
#include "ui/Dialog.h"
#include "ui/Main.h"

using kestrom::test::child;
using kestrom::test::ModalAnswers;
using kestrom::ui::Main;

namespace {

// Writes a file and its folders. With the stand-in tag library of these runs an
// "MP3 file" is a text file of lines "A=title", "B=artist"...; "FAIL" makes its
// tag unreadable, "LOCKED" makes it unwritable.
void write(const QString& path, const QByteArray& content = {}) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Records the counter's text each time the counter label is painted.
class CounterPaints : public QObject {
public:
    explicit CounterPaints(QLabel* label) : m_label(label) { label->installEventFilter(this); }
    QStringList texts;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) texts.push_back(m_label->text());
        return false;
    }

private:
    QLabel* m_label;
};

}  // namespace

class MainTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsOnTheDesktopFolderWithNothingCutOff();
    void japaneseTextHasItsFacesAndNeverShowsAsBoxes();
    void tabOrderSpaceAndEnter();
    void executeAtOnceStopsAtTheOverlapCheck();
    void cleanRunTagsEveryFileAndOpensNoWindow();
    void failedRunCountsOnScreenAndListsTheFailedNames();
    void browse_data();
    void browse();
    void browseFromAnEmptyBoxTakesThePickersDefault();

private:
    QLineEdit* text1(int i) {
        return child<QLineEdit>(main.get(), QStringLiteral("Text1_%1").arg(i));
    }
    QPushButton* button(const QString& name) { return child<QPushButton>(main.get(), name); }
    QString counter() { return child<QLabel>(main.get(), QStringLiteral("Label2"))->text(); }
    QString folder(const char* name) { return scratch->filePath(QString::fromUtf8(name)); }

    std::unique_ptr<QTemporaryDir> scratch;
    std::unique_ptr<Main> main;
};

void MainTest::init() {
    scratch = std::make_unique<QTemporaryDir>();
    main = std::make_unique<Main>(FAKE_TAGLIB);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    QApplication::setActiveWindow(main.get());
}

void MainTest::cleanup() {
    main.reset();
    scratch.reset();
}

void MainTest::startsOnTheDesktopFolderWithNothingCutOff() {
    QCOMPARE(main->windowTitle(), QStringLiteral("Kestrom Ver.1.10"));
    QCOMPARE(main->size(), QSize(396, 154));
    QCOMPARE(main->minimumSize(), main->maximumSize());
    QVERIFY(!(main->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    const QString desktop = kestrom::test::fakeDesktop() + QLatin1Char('/');
    QCOMPARE(text1(0)->text(), desktop);
    QCOMPARE(text1(1)->text(), desktop);
    QCOMPARE(main->workFolderText(), QFile::encodeName(desktop).toStdString());
    QVERIFY(!main->replaceFlag());
    QCOMPARE(counter(), QStringLiteral("0000 / 0000"));
    QCOMPARE(QApplication::focusWidget(), text1(0));
    // Labels and the check box are at least as large as their text needs.
    for (QWidget* w : main->findChildren<QWidget*>()) {
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QCheckBox*>(w)) continue;
        QVERIFY2(w->width() >= w->sizeHint().width() && w->height() >= w->fontMetrics().height(),
                 qPrintable(w->objectName()));
        QVERIFY(main->rect().contains(w->geometry()));
    }
}

void MainTest::japaneseTextHasItsFacesAndNeverShowsAsBoxes() {
    for (QWidget* w : main->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w)) text = label->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) text = b->text();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) text = edit->text();
        QVERIFY2(kestrom::test::drawsEveryGlyph(text, w->font()), qPrintable(text));
    }
    // The gothic labels get the face asked for by name, or its free stand-in.
    for (const char* name : {"Label3", "Label4_0", "Label4_1"}) {
        const QFontInfo face(child<QLabel>(main.get(), QString::fromLatin1(name))->font());
        QVERIFY2(face.family() == QStringLiteral("ＭＳ Ｐゴシック") ||
                     face.family() == QStringLiteral("IPAPGothic"),
                 qPrintable(face.family()));
    }
    QVERIFY(QFontInfo(child<QLabel>(main.get(), QStringLiteral("Label2"))->font()).weight() >=
            QFont::Bold);
}

void MainTest::tabOrderSpaceAndEnter() {
    for (const char* name :
         {"Command1_0", "Text1_1", "Command1_1", "Command2", "Command3", "Check1", "Text1_0"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
    }
    auto* check = child<QCheckBox>(main.get(), QStringLiteral("Check1"));
    check->setFocus();
    QTest::keyClick(check, Qt::Key_Space);
    QVERIFY(main->replaceFlag());
    // No default or cancel button: Enter and Escape leave Exit alone, Space presses it.
    QPushButton* exit = button(QStringLiteral("Command3"));
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Return);
    QTest::keyClick(exit, Qt::Key_Escape);
    QVERIFY(main->isVisible());
    QTest::keyClick(exit, Qt::Key_Space);
    QVERIFY(!main->isVisible());
    for (QWidget* window : QApplication::topLevelWidgets()) QVERIFY(!window->isVisible());
}

void MainTest::executeAtOnceStopsAtTheOverlapCheck() {
    ModalAnswers answers;
    answers.thenMessage();
    QTest::mouseClick(button(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(answers.messages(), QStringList{QStringLiteral("指定パスの範囲が重複しています。")});
    QCOMPARE(answers.unexpected(), 0);
    QCOMPARE(counter(), QStringLiteral("0000 / 0000"));
}

void MainTest::cleanRunTagsEveryFileAndOpensNoWindow() {
    write(folder("library/J-POP/Song.mp3"), "A=Song\nB=Singer\n");
    write(folder("library/Other/deeper/Duet.mp3"), "A=Duet\n");
    write(folder("work/Song.mp3"));
    write(folder("work/Duet_K.mp3"));
    text1(0)->setText(folder("library/"));
    text1(1)->setText(folder("work"));

    ModalAnswers answers;
    QTest::mouseClick(button(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(answers.unexpected(), 0);
    QCOMPARE(counter(), QStringLiteral("0002 / 0000"));
    QCOMPARE(main->focusWidget(), button(QStringLiteral("Command3")));
    QVERIFY(read(folder("work/Song.mp3")).startsWith("A=Song\nB=Singer\n"));
    // The karaoke file carries the mark "カラオケ" (code page 932) as its artist.
    QVERIFY(
        read(folder("work/Duet_K.mp3")).startsWith("A=Duet\nB=\x83\x4A\x83\x89\x83\x49\x83\x50"));
}

void MainTest::failedRunCountsOnScreenAndListsTheFailedNames() {
    write(folder("library/J-POP/Song.mp3"), "A=Song\n");
    write(folder("library/Bad.mp3"), "FAIL\n");
    write(folder("library/Locked.mp3"), "A=Locked\n");
    write(folder("work/Song.mp3"));
    write(folder("work/Song.txt"), "lyrics");
    write(folder("work/Bad.mp3"), "untouched");
    write(folder("work/Locked.mp3"), "LOCKED\n");
    write(folder("work/歌_K.mp3"));
    text1(0)->setText(folder("library"));
    text1(1)->setText(folder("work"));
    child<QCheckBox>(main.get(), QStringLiteral("Check1"))->setChecked(true);

    CounterPaints paints(child<QLabel>(main.get(), QStringLiteral("Label2")));
    QString listed;
    ModalAnswers answers;
    answers.then([&](QWidget* window) {
        QCOMPARE(window->windowTitle(), QStringLiteral("Copy Error List"));
        listed = child<QPlainTextEdit>(window, QStringLiteral("ErrList"))->toPlainText();
        QTest::mouseClick(child<QPushButton>(window, QStringLiteral("OKButton")), Qt::LeftButton);
    });
    QTest::mouseClick(button(QStringLiteral("Command2")), Qt::LeftButton);

    QCOMPARE(answers.answered(), 1);
    QCOMPARE(answers.unexpected(), 0);
    // An unreadable library tag counts as NG but is not listed.
    QCOMPARE(listed, QStringLiteral("Locked.mp3\n歌_K.mp3\n"));
    QCOMPARE(counter(), QStringLiteral("0001 / 0003"));
    QCOMPARE(main->focusWidget(), button(QStringLiteral("Command3")));
    // Every count was on screen while the run went on.
    QCOMPARE(paints.texts.mid(0, 4),
             (QStringList{"0000 / 0001", "0000 / 0002", "0001 / 0002", "0001 / 0003"}));
    // The tagged file and its companion moved to where the match was found.
    QVERIFY(read(folder("library/J-POP/Song.mp3")).startsWith("A=Song\n"));
    QCOMPARE(read(folder("library/J-POP/Song.txt")), QByteArray("lyrics"));
    QVERIFY(!QFile::exists(folder("work/Song.mp3")));
    QCOMPARE(read(folder("work/Bad.mp3")), QByteArray("untouched"));
}

void MainTest::browse_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("answer");
    for (int row : {0, 1}) {
        for (const char* answer : {"OK", "Cancel", "close box"})
            QTest::addRow("row %d, %s", row, answer) << row << QString::fromLatin1(answer);
    }
}

// The user opens the picker on a folder, opens its subfolder "sub" with a
// double-click, highlights "sub"'s own subfolder with a click, and ends.
void MainTest::browse() {
    QFETCH(int, row);
    QFETCH(QString, answer);
    const QString tree = folder("曲");
    QDir().mkpath(tree + QStringLiteral("/sub/inner"));
    text1(row)->setText(tree + QLatin1Char('/'));
    text1(1 - row)->setText(QStringLiteral("the other box"));

    QString openedOn;
    ModalAnswers answers;
    answers.then([&](QWidget* window) {
        QCOMPARE(window->windowTitle(), QStringLiteral("フォルダ選択"));
        auto* dir = child<QTreeWidget>(window, QStringLiteral("Dir1"));
        openedOn = dir->currentItem()->text(0);
        const auto find = [dir](const char* name) {
            return dir->findItems(QString::fromLatin1(name), Qt::MatchExactly | Qt::MatchRecursive)
                .value(0);
        };
        kestrom::test::doubleClick(dir, dir->indexFromItem(find("sub")));
        QTest::mouseClick(dir->viewport(), Qt::LeftButton, {},
                          dir->visualItemRect(find("inner")).center());
        QCOMPARE(dir->currentItem()->text(0), QStringLiteral("inner"));
        if (answer == QStringLiteral("close box"))
            window->close();
        else
            QTest::mouseClick(child<QPushButton>(window, answer + QStringLiteral("Button")),
                              Qt::LeftButton);
    });
    QTest::mouseClick(button(QStringLiteral("Command1_%1").arg(row)), Qt::LeftButton);

    QCOMPARE(answers.answered(), 1);
    QCOMPARE(answers.unexpected(), 0);
    QCOMPARE(openedOn, QStringLiteral("曲"));
    QCOMPARE(text1(row)->text(), answer == QStringLiteral("OK") ? tree + QStringLiteral("/sub")
                                                                : tree + QLatin1Char('/'));
    QCOMPARE(text1(1 - row)->text(), QStringLiteral("the other box"));
}

void MainTest::browseFromAnEmptyBoxTakesThePickersDefault() {
    text1(1)->clear();
    ModalAnswers answers;
    answers.then([](QWidget* window) {
        QTest::mouseClick(child<QPushButton>(window, QStringLiteral("OKButton")), Qt::LeftButton);
    });
    QTest::mouseClick(button(QStringLiteral("Command1_1")), Qt::LeftButton);
    QCOMPARE(answers.answered(), 1);
    QCOMPARE(text1(1)->text(), kestrom::test::fakeDesktop());
}

KESTROM_UI_TEST_MAIN(MainTest)
#include "MainTest.moc"
