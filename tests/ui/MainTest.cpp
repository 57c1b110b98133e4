// SPDX-License-Identifier: GPL-3.0-or-later
// The windows as a user drives them from the main window. Runs use the stand-in
// tag library, whose "MP3 files" are text files: "A=title" lines, "FAIL" for an
// unreadable tag, "LOCKED" for one that cannot be written.
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <memory>

#include "UiTest.h"
#include "engine/Run.h"
#include "ui/Main.h"

using namespace Qt::StringLiterals;
using kestrom::test::child;
using kestrom::test::ModalAnswer;

class MainTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { main.reset(); }

    void startsOnTheDesktopFolder();
    void tabOrder();
    void executeAtOnceReportsTheOverlap();
    void runCountsAndListsTheFailedNames();
    void browse_data();
    void browse();
    void errorListShowsErrorListTextVerbatim();

private:
    QLineEdit* text1(int i) { return child<QLineEdit>(main.get(), u"Text1_%1"_s.arg(i)); }
    QPushButton* button(const QString& name) { return child<QPushButton>(main.get(), name); }
    QString counter() { return child<QLabel>(main.get(), u"Label2"_s)->text(); }
    QString folder(const QString& rel) { return scratch->filePath(rel); }

    std::unique_ptr<QTemporaryDir> scratch;
    kestrom::platform::Posix posix;
    std::unique_ptr<kestrom::ui::Main> main;
};

void MainTest::init() {
    scratch = std::make_unique<QTemporaryDir>();
    main = std::make_unique<kestrom::ui::Main>(posix, FAKE_TAGLIB);
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    QApplication::setActiveWindow(main.get());
}

void MainTest::startsOnTheDesktopFolder() {
    QCOMPARE(text1(0)->text(), kestrom::test::fakeDesktop() + u'/');
    QCOMPARE(text1(1)->text(), kestrom::test::fakeDesktop() + u'/');
    QVERIFY(!main->replaceFlag());
    QCOMPARE(counter(), u"0000 / 0000"_s);
    QCOMPARE(QApplication::focusWidget(), text1(0));
    QCOMPARE(main->windowTitle(), u"Kestrom Ver." KESTROM_VERSION ""_s);
    // The desktop icon, as the build folder's share/ holds it beside bin/.
    QCOMPARE(main->windowIcon().availableSizes(), (QList<QSize>{{48, 48}, {128, 128}, {256, 256}}));
    QStringList captions;
    for (const char* name :
         {"Label1_0", "Label1_1", "Command1_0", "Command1_1", "Command2", "Command3", "Check1",
          "Label3", "Label5_1", "Label4_1", "Label5_0", "Label4_0"})
        captions
            << child<QWidget>(main.get(), QString::fromLatin1(name))->property("text").toString();
    QCOMPARE(captions, (QStringList{"コピー元", "コピー先", "参照", "参照", "実行", "終了",
                                    "タグをコピー後、ＭＰ３データをコピー元と置き換える", "OK / NG",
                                    "Powered by", "libvbmp3.so  Kestrom 開発チーム",
                                    "Programmed by", "Kestrom 開発チーム"}));
}

void MainTest::tabOrder() {
    for (const char* name :
         {"Command1_0", "Text1_1", "Command1_1", "Command2", "Command3", "Check1", "Text1_0"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
    }
}

void MainTest::executeAtOnceReportsTheOverlap() {
    QString shown;
    ModalAnswer answer([&](QWidget* box) {
        shown = box->windowTitle() + u": "_s + box->property("text").toString();
    });
    QTest::mouseClick(button(u"Command2"_s), Qt::LeftButton);
    QCOMPARE(answer.opened, 1);
    QCOMPARE(shown, u"Kestrom: 指定パスの範囲が重複しています。"_s);
}

// A clean run opens no window; a run with failures lists the work files whose tag
// could not be written or that were not found, not those whose library tag
// could not be read.
void MainTest::runCountsAndListsTheFailedNames() {
    const auto write = [this](const QString& rel, const QByteArray& content = {}) {
        QDir().mkpath(QFileInfo(folder(rel)).path());
        QFile file(folder(rel));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    };
    write(u"library/J-POP/Song.mp3"_s, "A=Song\n");
    write(u"library/a/b/Duet.mp3"_s, "A=Duet\n");
    write(u"work/Song.mp3"_s);
    write(u"work/Duet_K.mp3"_s);
    text1(0)->setText(folder(u"library"_s));
    text1(1)->setText(folder(u"work/"_s));
    QString shown;
    ModalAnswer answer([&](QWidget* window) {
        QCOMPARE(window->windowTitle(), u"Copy Error List"_s);
        shown = child<QPlainTextEdit>(window, u"ErrList"_s)->toPlainText();
        QTest::mouseClick(child<QPushButton>(window, u"OKButton"_s), Qt::LeftButton);
    });
    QTest::mouseClick(button(u"Command2"_s), Qt::LeftButton);
    QCOMPARE(answer.opened, 0);
    QCOMPARE(counter(), u"0002 / 0000"_s);

    write(u"library/Bad.mp3"_s, "FAIL\n");
    write(u"library/Locked.mp3"_s, "A=Locked\n");
    write(u"work/Bad.mp3"_s);
    write(u"work/Locked.mp3"_s, "LOCKED\n");
    write(u"work/歌_K.mp3"_s);
    QTest::mouseClick(button(u"Command2"_s), Qt::LeftButton);
    QCOMPARE(answer.opened, 1);
    QCOMPARE(shown, u"Bad.mp3\nLocked.mp3\n歌_K.mp3\n"_s);
    QCOMPARE(counter(), u"0002 / 0003"_s);
    QCOMPARE(main->focusWidget(), button(u"Command3"_s));
}

void MainTest::browse_data() {
    // In start and result "@" stands for the scratch folder, "~" for the home folder.
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("result");
    QTest::newRow("OK") << 0 << u"@/曲/"_s << u"OK"_s << u"@/曲/sub"_s;
    QTest::newRow("Cancel") << 1 << u"@/曲/"_s << u"Cancel"_s << u"@/曲/"_s;
    QTest::newRow("empty box: the desktop") << 1 << QString() << u"OK"_s << u"~/デスクトップ"_s;
    // The drive's current folder, its top when the process works elsewhere.
    QTest::newRow("missing folder") << 0 << u"~/ない/"_s << u"OK"_s << u"~"_s;
}

// In the picker the user opens "sub" with a double-click, when it is listed,
// highlights its subfolder "inner" with a click, and ends with OK or Cancel.
void MainTest::browse() {
    QFETCH(int, row);
    QFETCH(QString, start);
    QFETCH(QString, answer);
    QFETCH(QString, result);
    const auto resolve = [this](QString text) {
        return text.replace(u'@', scratch->path()).replace(u'~', kestrom::test::fakeHome());
    };
    QDir().mkpath(folder(u"曲/sub/inner"_s));
    text1(row)->setText(resolve(start));

    ModalAnswer picker([&](QWidget* window) {
        QCOMPARE(window->windowTitle(), u"フォルダ選択"_s);
        auto* dir = child<QTreeWidget>(window, u"Dir1"_s);
        const auto at = [dir](const QString& name) {
            const auto items = dir->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
            return items.isEmpty() ? QPoint() : dir->visualItemRect(items.front()).center();
        };
        if (const QPoint sub = at(u"sub"_s); !sub.isNull()) {
            QTest::mouseClick(dir->viewport(), Qt::LeftButton, {}, sub);
            QTest::mouseDClick(dir->viewport(), Qt::LeftButton, {}, sub);
            QTest::mouseClick(dir->viewport(), Qt::LeftButton, {}, at(u"inner"_s));
        }
        QTest::mouseClick(child<QPushButton>(window, answer + u"Button"_s), Qt::LeftButton);
    });
    QTest::mouseClick(button(u"Command1_%1"_s.arg(row)), Qt::LeftButton);
    QCOMPARE(picker.opened, 1);
    QCOMPARE(text1(row)->text(), resolve(result));
}

void MainTest::errorListShowsErrorListTextVerbatim() {
    kestrom::engine::ErrorListText = "歌_K.mp3\r\n  two  blanks.mp3\r\n";
    QString shown;
    ModalAnswer answer([&](QWidget* window) {
        shown = child<QPlainTextEdit>(window, u"ErrList"_s)->toPlainText();
    });
    main->showErrorList();
    QCOMPARE(shown, u"歌_K.mp3\n  two  blanks.mp3\n"_s);
}

KESTROM_UI_TEST_MAIN(MainTest)
#include "MainTest.moc"
