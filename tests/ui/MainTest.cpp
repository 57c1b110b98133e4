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
#include "ui/Icons.h"
#include "ui/Main.h"

using kestrom::test::child;
using kestrom::test::ModalAnswers;
using kestrom::ui::Main;

namespace {

// Writes a file, and its folders. With the stand-in tag library the runs use,
// an "MP3 file" is a text file of lines "A=title", "B=artist"...; "FAIL" makes
// its tag unreadable, "LOCKED" makes it unwritable.
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

void touch(const QString& path) {
    write(path);
}

// Records the counter text each time the counter label is painted, and whether
// anything else on the window looked different at that moment.
class CounterPaints : public QObject {
public:
    explicit CounterPaints(QWidget* window) : m_window(window) {
        m_label = child<QLabel>(window, QStringLiteral("Label2"));
        m_label->installEventFilter(this);
        m_before = snapshot();
    }
    QStringList texts;
    bool othersChanged = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_label && event->type() == QEvent::Paint) {
            texts.push_back(m_label->text());
            if (snapshot() != m_before) othersChanged = true;
        }
        return false;
    }

private:
    // What the user sees of every other control: enabled, checked, text.
    QStringList snapshot() const {
        QStringList state;
        for (QWidget* w : m_window->findChildren<QWidget*>()) {
            if (w == m_label) continue;
            QString text;
            if (auto* edit = qobject_cast<QLineEdit*>(w)) text = edit->text();
            if (auto* button = qobject_cast<QAbstractButton*>(w))
                text = button->text() + QString::number(button->isChecked());
            state << w->objectName() + QString::number(w->isEnabled()) + text;
        }
        state << QString::number(m_window->cursor().shape());
        return state;
    }

    QWidget* m_window;
    QLabel* m_label;
    QStringList m_before;
};

}  // namespace

class MainTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsOnTheDesktopFolderWithZeroCounters();
    void controlsHaveTheirCaptionsAndPlaces_data();
    void controlsHaveTheirCaptionsAndPlaces();
    void coloursAndFontsOfTheLabels();
    void japaneseTextNeverShowsAsBoxes();
    void tabVisitsEveryControlInOrder();
    void enterPressesNothingSpacePressesTheFocusedButton();
    void executeAtOnceStopsAtTheOverlapCheck();
    void failedRunRepaintsCounterAfterEveryFileAndListsTheFailures();
    void emptyWorkFolderSaysSoAndKeepsTheCounters();
    void cleanRunTagsEveryFileAndOpensNoWindow();
    void runWithReplaceMovesTaggedFilesAndListsTheFailedNames();
    void browse_data();
    void browse();
    void browseFromAnEmptyBoxOpensOnTheDesktop();
    void exitClosesTheWindow();
    void iconsAre32PixelsInSixteenColours();

private:
    QLineEdit* text1(int i) {
        return child<QLineEdit>(main.get(), QStringLiteral("Text1_%1").arg(i));
    }
    QPushButton* button(const QString& name) { return child<QPushButton>(main.get(), name); }

    std::unique_ptr<Main> main;
    std::unique_ptr<QTemporaryDir> scratch;
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

void MainTest::startsOnTheDesktopFolderWithZeroCounters() {
    QCOMPARE(main->windowTitle(), QStringLiteral("Kestrom Ver.1.10"));
    QCOMPARE(main->size(), QSize(396, 154));
    QCOMPARE(main->minimumSize(), main->maximumSize());
    const Qt::WindowFlags flags = main->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    const QString desktop = kestrom::test::fakeDesktop() + QLatin1Char('/');
    QCOMPARE(text1(0)->text(), desktop);
    QCOMPARE(text1(1)->text(), desktop);
    QCOMPARE(main->libraryFolderText(), QFile::encodeName(desktop).toStdString());
    QVERIFY(!child<QCheckBox>(main.get(), QStringLiteral("Check1"))->isChecked());
    QVERIFY(!main->replaceFlag());
    QCOMPARE(child<QLabel>(main.get(), QStringLiteral("Label2"))->text(),
             QStringLiteral("0000 / 0000"));
    QCOMPARE(QApplication::focusWidget(), text1(0));
}

void MainTest::controlsHaveTheirCaptionsAndPlaces_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("rect");  // pixels at 96 dots per inch
    QTest::newRow("Command1_0") << "参照" << QRect(348, 24, 41, 21);
    QTest::newRow("Command1_1") << "参照" << QRect(348, 52, 41, 21);
    QTest::newRow("Command2") << "実行" << QRect(260, 108, 61, 37);
    QTest::newRow("Command3") << "終了" << QRect(328, 108, 61, 37);
    QTest::newRow("Text1_0") << "" << QRect(60, 24, 281, 21);
    QTest::newRow("Text1_1") << "" << QRect(60, 52, 281, 21);
    QTest::newRow("Check1") << "タグをコピー後、ＭＰ３データをコピー元と置き換える"
                            << QRect(108, 80, 281, 13);
    QTest::newRow("Label1_0") << "コピー元" << QRect(8, 28, 49, 17);
    QTest::newRow("Label1_1") << "コピー先" << QRect(8, 56, 49, 17);
    QTest::newRow("Label2") << "0000 / 0000" << QRect(300, 0, 93, 17);
    QTest::newRow("Label3") << "OK / NG" << QRect(232, 4, 61, 13);
    QTest::newRow("Label4_0") << "" << QRect(8, 136, 185, 13);
    QTest::newRow("Label4_1") << "" << QRect(8, 112, 185, 13);
    QTest::newRow("Label5_0") << "Programmed by" << QRect(8, 124, 113, 13);
    QTest::newRow("Label5_1") << "Powered by" << QRect(8, 100, 113, 13);
}

void MainTest::controlsHaveTheirCaptionsAndPlaces() {
    QFETCH(QString, text);
    QFETCH(QRect, rect);
    auto* widget = child<QWidget>(main.get(), QString::fromLatin1(QTest::currentDataTag()));
    if (auto* label = qobject_cast<QLabel*>(widget); label != nullptr && !text.isEmpty())
        QCOMPARE(label->text(), text);
    if (auto* buttonWidget = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(buttonWidget->text(), text);
    // Labels and the check box may grow to fit their text; nothing else moves.
    const QRect actual = widget->geometry();
    QCOMPARE(actual.topLeft(), rect.topLeft());
    if (qobject_cast<QLabel*>(widget) || qobject_cast<QCheckBox*>(widget)) {
        QVERIFY(actual.width() >= rect.width() && actual.height() >= rect.height());
        QVERIFY(main->rect().contains(actual));
        QVERIFY(actual.width() >= widget->sizeHint().width());  // nothing cut off
    } else {
        QCOMPARE(actual.size(), rect.size());
    }
}

void MainTest::coloursAndFontsOfTheLabels() {
    QCOMPARE(main->palette().color(QPalette::Window), QColor(64, 64, 64));
    QVERIFY(main->autoFillBackground());
    const auto colourOf = [this](const char* name) {
        return child<QWidget>(main.get(), QString::fromLatin1(name))
            ->palette()
            .color(QPalette::WindowText);
    };
    for (const char* name : {"Label1_0", "Label1_1", "Label5_0", "Label5_1"})
        QCOMPARE(colourOf(name), QColor(224, 224, 224));
    QCOMPARE(colourOf("Label2"), QColor(0, 192, 192));
    QCOMPARE(colourOf("Label3"), QColor(0, 192, 192));
    QCOMPARE(colourOf("Label4_0"), QColor(128, 128, 255));
    QCOMPARE(colourOf("Label4_1"), QColor(0, 255, 0));
    QCOMPARE(colourOf("Check1"), QColor(255, 255, 255));
    for (QLabel* label : main->findChildren<QLabel*>()) QVERIFY(!label->autoFillBackground());

    // The gothic labels: the face asked for by name, else its free stand-in, bold.
    for (const char* name : {"Label3", "Label4_0", "Label4_1"}) {
        const QFont font = child<QLabel>(main.get(), QString::fromLatin1(name))->font();
        QCOMPARE(font.families().value(0), QStringLiteral("ＭＳ Ｐゴシック"));
        QCOMPARE(font.pointSizeF(), 9.0);
        const QFontInfo info(font);
        if (info.family() != QStringLiteral("ＭＳ Ｐゴシック"))
            QCOMPARE(info.family(), QStringLiteral("IPAPGothic"));
        QCOMPARE(font.weight(), QFont::Bold);
    }
    // The counters: a heavy face, whichever is installed.
    const QFont counter = child<QLabel>(main.get(), QStringLiteral("Label2"))->font();
    QCOMPARE(counter.families().value(0), QStringLiteral("Arial Black"));
    QCOMPARE(counter.pointSizeF(), 9.75);
    QVERIFY(QFontInfo(counter).weight() >= QFont::Bold);
}

void MainTest::japaneseTextNeverShowsAsBoxes() {
    for (QWidget* widget : main->findChildren<QWidget*>()) {
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
        if (auto* buttonWidget = qobject_cast<QAbstractButton*>(widget))
            text = buttonWidget->text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget)) text = edit->text();
        QVERIFY2(kestrom::test::drawsEveryGlyph(text, widget->font()), qPrintable(text));
    }
}

void MainTest::tabVisitsEveryControlInOrder() {
    const QStringList order{"Command1_0", "Text1_1", "Command1_1", "Command2",
                            "Command3",   "Check1",  "Text1_0"};
    QCOMPARE(QApplication::focusWidget(), text1(0));
    for (const QString& name : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
}

void MainTest::enterPressesNothingSpacePressesTheFocusedButton() {
    for (QPushButton* b : main->findChildren<QPushButton*>())
        QVERIFY(!b->isDefault() && !b->autoDefault());
    auto* check = child<QCheckBox>(main.get(), QStringLiteral("Check1"));
    check->setFocus();
    QTest::keyClick(check, Qt::Key_Space);
    QVERIFY(check->isChecked());
    QVERIFY(main->replaceFlag());

    QPushButton* exit = button(QStringLiteral("Command3"));
    exit->setFocus();
    QTest::keyClick(exit, Qt::Key_Return);
    QTest::keyClick(exit, Qt::Key_Escape);
    QVERIFY(main->isVisible());
    QTest::keyClick(exit, Qt::Key_Space);
    QTRY_VERIFY(!main->isVisible());
}

void MainTest::executeAtOnceStopsAtTheOverlapCheck() {
    ModalAnswers answers;
    answers.thenMessage();
    QTest::mouseClick(button(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(answers.messages(), QStringList{QStringLiteral("指定パスの範囲が重複しています。")});
    QCOMPARE(answers.unexpected(), 0);
    QCOMPARE(child<QLabel>(main.get(), QStringLiteral("Label2"))->text(),
             QStringLiteral("0000 / 0000"));
    QVERIFY(QDir(kestrom::test::fakeDesktop()).isEmpty());
}

void MainTest::failedRunRepaintsCounterAfterEveryFileAndListsTheFailures() {
    // None of the work files is in the (empty) library: each one fails.
    const QString library = scratch->filePath(QStringLiteral("library"));
    const QString work = scratch->filePath(QStringLiteral("work"));
    QDir().mkpath(library);
    QDir().mkpath(work);
    for (const char* name : {"b.mp3", "A_K.mp3", "歌.mp3"})
        touch(work + QLatin1Char('/') + QString::fromUtf8(name));
    text1(0)->setText(library);
    text1(1)->setText(work + QLatin1Char('/'));

    CounterPaints paints(main.get());
    QString listed;
    ModalAnswers answers;
    answers.then([&](QWidget* window) {
        QCOMPARE(window->objectName(), QStringLiteral("Dialog1"));
        listed = child<QPlainTextEdit>(window, QStringLiteral("ErrList"))->toPlainText();
        QTest::mouseClick(child<QPushButton>(window, QStringLiteral("OKButton")), Qt::LeftButton);
    });
    QTest::mouseClick(button(QStringLiteral("Command2")), Qt::LeftButton);

    QCOMPARE(answers.answered(), 1);
    QCOMPARE(answers.unexpected(), 0);
    QCOMPARE(listed, QStringLiteral("A_K.mp3\nb.mp3\n歌.mp3\n"));
    QCOMPARE(child<QLabel>(main.get(), QStringLiteral("Label2"))->text(),
             QStringLiteral("0000 / 0003"));
    QCOMPARE(main->focusWidget(), button(QStringLiteral("Command3")));
    // Each count was on screen while the run went on, and only the counter changed.
    for (const char* count : {"0000 / 0001", "0000 / 0002", "0000 / 0003"})
        QVERIFY2(paints.texts.contains(QString::fromLatin1(count)),
                 qPrintable(paints.texts.join(u',')));
    QVERIFY(!paints.othersChanged);
    QCOMPARE(text1(1)->text(), work + QLatin1Char('/'));
}

void MainTest::emptyWorkFolderSaysSoAndKeepsTheCounters() {
    const QString library = scratch->filePath(QStringLiteral("library"));
    const QString work = scratch->filePath(QStringLiteral("work"));
    QDir().mkpath(library);
    QDir().mkpath(work);
    touch(work + QStringLiteral("/notes.txt"));
    text1(0)->setText(library);
    text1(1)->setText(work);
    ModalAnswers answers;
    answers.thenMessage();
    QTest::mouseClick(button(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(answers.messages(), QStringList{QStringLiteral("データね～じゃん(-_-ﾒ)")});
    QCOMPARE(child<QLabel>(main.get(), QStringLiteral("Label2"))->text(),
             QStringLiteral("0000 / 0000"));
}

void MainTest::cleanRunTagsEveryFileAndOpensNoWindow() {
    const QString library = scratch->filePath(QStringLiteral("library"));
    const QString work = scratch->filePath(QStringLiteral("work"));
    write(library + QStringLiteral("/J-POP/Song.mp3"), "A=Song\nB=Singer\n");
    write(library + QStringLiteral("/Other/deeper/Duet.mp3"), "A=Duet\n");
    write(work + QStringLiteral("/Song.mp3"));
    write(work + QStringLiteral("/Duet_K.mp3"));
    text1(0)->setText(library + QLatin1Char('/'));
    text1(1)->setText(work);

    ModalAnswers answers;
    QTest::mouseClick(button(QStringLiteral("Command2")), Qt::LeftButton);
    QCOMPARE(answers.answered() + answers.unexpected(), 0);
    QCOMPARE(child<QLabel>(main.get(), QStringLiteral("Label2"))->text(),
             QStringLiteral("0002 / 0000"));
    QCOMPARE(main->focusWidget(), button(QStringLiteral("Command3")));
    QVERIFY(read(work + QStringLiteral("/Song.mp3")).startsWith("A=Song\nB=Singer\n"));
    // The karaoke file carries the mark "カラオケ" (code page 932) as its artist.
    QVERIFY(read(work + QStringLiteral("/Duet_K.mp3"))
                .startsWith("A=Duet\nB=\x83\x4A\x83\x89\x83\x49\x83\x50"));
    QVERIFY(QFile::exists(library + QStringLiteral("/J-POP/Song.mp3")));
}

void MainTest::runWithReplaceMovesTaggedFilesAndListsTheFailedNames() {
    const QString library = scratch->filePath(QStringLiteral("library"));
    const QString work = scratch->filePath(QStringLiteral("work"));
    write(library + QStringLiteral("/J-POP/Song.mp3"), "A=Song\n");
    write(library + QStringLiteral("/Bad.mp3"), "FAIL\n");
    write(library + QStringLiteral("/Locked.mp3"), "A=Locked\n");
    write(work + QStringLiteral("/Song.mp3"));
    write(work + QStringLiteral("/Song.txt"), "lyrics");
    write(work + QStringLiteral("/Bad.mp3"), "untouched");
    write(work + QStringLiteral("/Locked.mp3"), "LOCKED\n");
    write(work + QStringLiteral("/Missing.mp3"));
    text1(0)->setText(library);
    text1(1)->setText(work);
    child<QCheckBox>(main.get(), QStringLiteral("Check1"))->setChecked(true);

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
    QCOMPARE(listed, QStringLiteral("Locked.mp3\nMissing.mp3\n"));
    QCOMPARE(child<QLabel>(main.get(), QStringLiteral("Label2"))->text(),
             QStringLiteral("0001 / 0003"));
    QCOMPARE(main->focusWidget(), button(QStringLiteral("Command3")));
    // The tagged file and its companion moved to where the match was found.
    QVERIFY(read(library + QStringLiteral("/J-POP/Song.mp3")).startsWith("A=Song\n"));
    QCOMPARE(read(library + QStringLiteral("/J-POP/Song.txt")), QByteArray("lyrics"));
    QVERIFY(!QFile::exists(work + QStringLiteral("/Song.mp3")));
    QVERIFY(!QFile::exists(work + QStringLiteral("/Song.txt")));
    QCOMPARE(read(work + QStringLiteral("/Bad.mp3")), QByteArray("untouched"));
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
// double-click, highlights "sub"'s own subfolder with a single click, and ends.
void MainTest::browse() {
    QFETCH(int, row);
    QFETCH(QString, answer);
    const QString tree = scratch->filePath(QStringLiteral("曲"));
    QDir().mkpath(tree + QStringLiteral("/sub/inner"));
    const QString typed = tree + QLatin1Char('/');
    text1(row)->setText(typed);
    text1(1 - row)->setText(QStringLiteral("the other box"));

    QString openedOn;
    ModalAnswers answers;
    answers.then([&](QWidget* window) {
        QCOMPARE(window->windowTitle(), QStringLiteral("フォルダ選択"));
        QVERIFY(kestrom::ui::PickedPath.isEmpty());  // the picker took it
        auto* dir = child<QTreeWidget>(window, QStringLiteral("Dir1"));
        openedOn = dir->currentItem()->text(0);
        const auto items =
            dir->findItems(QStringLiteral("sub"), Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(items.size(), 1);
        kestrom::test::doubleClick(dir, dir->indexFromItem(items[0]));
        const auto inner =
            dir->findItems(QStringLiteral("inner"), Qt::MatchExactly | Qt::MatchRecursive);
        QCOMPARE(inner.size(), 1);
        QTest::mouseClick(dir->viewport(), Qt::LeftButton, {},
                          dir->visualItemRect(inner[0]).center());
        QCOMPARE(dir->currentItem(), inner[0]);
        if (answer == QStringLiteral("OK"))
            QTest::mouseClick(child<QPushButton>(window, QStringLiteral("OKButton")),
                              Qt::LeftButton);
        else if (answer == QStringLiteral("Cancel"))
            QTest::mouseClick(child<QPushButton>(window, QStringLiteral("CancelButton")),
                              Qt::LeftButton);
        else
            window->close();
    });
    QTest::mouseClick(button(QStringLiteral("Command1_%1").arg(row)), Qt::LeftButton);

    QCOMPARE(answers.answered(), 1);
    QCOMPARE(openedOn, QStringLiteral("曲"));
    QCOMPARE(text1(row)->text(),
             answer == QStringLiteral("OK") ? tree + QStringLiteral("/sub") : typed);
    QCOMPARE(text1(1 - row)->text(), QStringLiteral("the other box"));
    QCOMPARE(kestrom::ui::PickedPath.isEmpty(), answer != QStringLiteral("OK"));
}

void MainTest::browseFromAnEmptyBoxOpensOnTheDesktop() {
    text1(1)->clear();
    ModalAnswers answers;
    answers.then([](QWidget* window) {
        QTest::mouseClick(child<QPushButton>(window, QStringLiteral("OKButton")), Qt::LeftButton);
    });
    QTest::mouseClick(button(QStringLiteral("Command1_1")), Qt::LeftButton);
    QCOMPARE(answers.answered(), 1);
    QCOMPARE(text1(1)->text(), kestrom::test::fakeDesktop());
    // A second browse starts from the box as it now stands.
    QDir().mkpath(kestrom::test::fakeDesktop() + QStringLiteral("/アルバム"));
    text1(1)->setText(kestrom::test::fakeDesktop() + QStringLiteral("/アルバム"));
    answers.then([](QWidget* window) {
        QTest::mouseClick(child<QPushButton>(window, QStringLiteral("OKButton")), Qt::LeftButton);
    });
    QTest::mouseClick(button(QStringLiteral("Command1_1")), Qt::LeftButton);
    QCOMPARE(text1(1)->text(), kestrom::test::fakeDesktop() + QStringLiteral("/アルバム"));
    QDir(kestrom::test::fakeDesktop() + QStringLiteral("/アルバム")).removeRecursively();
}

void MainTest::exitClosesTheWindow() {
    QTest::mouseClick(button(QStringLiteral("Command3")), Qt::LeftButton);
    // No window is left open, so the application's event loop ends.
    for (QWidget* window : QApplication::topLevelWidgets()) QVERIFY(!window->isVisible());
}

void MainTest::iconsAre32PixelsInSixteenColours() {
    const QList<QRgb> palette{0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000,
                              0xFF000080, 0xFF800080, 0xFF008080, 0xFFC0C0C0,
                              0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
                              0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};
    for (const QImage& icon : {kestrom::ui::mainIconImage(), kestrom::ui::pickerIconImage()}) {
        QCOMPARE(icon.size(), QSize(32, 32));
        int drawn = 0;
        for (int y = 0; y < 32; ++y) {
            for (int x = 0; x < 32; ++x) {
                const QRgb pixel = icon.pixel(x, y);
                if (qAlpha(pixel) == 0) continue;
                ++drawn;
                QVERIFY2(palette.contains(pixel), qPrintable(QString::number(pixel, 16)));
            }
        }
        QVERIFY(drawn > 200);
    }
    QVERIFY(!main->windowIcon().isNull());
}

KESTROM_UI_TEST_MAIN(MainTest)
#include "MainTest.moc"
