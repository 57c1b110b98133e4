// SPDX-License-Identifier: GPL-3.0-or-later
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>

#include "UiTest.h"
#include "ui/Dialog.h"

using kestrom::test::child;
using kestrom::test::ModalAnswers;
using kestrom::ui::Dialog;
using kestrom::ui::PickedPath;

namespace {

std::string bytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

// Most cases run on a drive list of their own: the root, a home folder and a
// mounted medium, all made in a scratch folder, with the process's current
// folder inside the home folder.
class DialogTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fixedAtItsScreenPlaceTabOrderNoEnterOrEscape();
    void opensOnTheDesktopByDefault();
    void withoutADesktopOpensOnTheHomeDrivesCurrentFolder();
    void startingText_data();
    void startingText();
    void dirListShowsAncestorsThenSubfoldersIndented();
    void doubleClickOrEnterOpensHighlightingDoesNot();
    void choosingADriveMovesToItsCurrentFolder();
    void unreadableDriveLeavesBothListsWithAMessage();
    void folderGoneBeforeItIsOpenedGivesAMessage();

private:
    void open(const QString& start);
    QComboBox* drive1() { return child<QComboBox>(dialog.get(), QStringLiteral("Drive1")); }
    QTreeWidget* dir1() { return child<QTreeWidget>(dialog.get(), QStringLiteral("Dir1")); }
    QPushButton* button(const char* name) {
        return child<QPushButton>(dialog.get(), QString::fromLatin1(name));
    }
    QTreeWidgetItem* item(const QString& text);
    // Dir1's open folder, as OK returns it.
    QString okResult();

    std::unique_ptr<QTemporaryDir> scratch;
    QString home, medium, cwd, savedCwd;
    std::vector<std::string> drives;
    std::unique_ptr<Dialog> dialog;
};

void DialogTest::init() {
    scratch = std::make_unique<QTemporaryDir>();
    home = scratch->filePath(QStringLiteral("home"));
    medium = scratch->filePath(QStringLiteral("media/USB STICK"));
    cwd = home + QStringLiteral("/作業");
    for (const QString& folder :
         {cwd, home + QStringLiteral("/曲/c"), home + QStringLiteral("/曲/a"),
          home + QStringLiteral("/曲/B"), home + QStringLiteral("/曲/.hidden"),
          medium + QStringLiteral("/J-POP")})
        QVERIFY(QDir().mkpath(folder));
    QFile file(home + QStringLiteral("/曲/song.mp3"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(home + QStringLiteral("/曲/a"), home + QStringLiteral("/曲/linked")));
    drives = {"/", bytes(home), bytes(medium)};
    savedCwd = QDir::currentPath();
    QDir::setCurrent(cwd);
    PickedPath.clear();
}

void DialogTest::cleanup() {
    dialog.reset();
    QDir::setCurrent(savedCwd);
    scratch.reset();
}

void DialogTest::open(const QString& start) {
    PickedPath = start;
    dialog = std::make_unique<Dialog>(nullptr, drives);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
    QApplication::setActiveWindow(dialog.get());
}

QTreeWidgetItem* DialogTest::item(const QString& text) {
    const auto items = dir1()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return items.size() == 1 ? items.front() : nullptr;
}

QString DialogTest::okResult() {
    PickedPath = QStringLiteral("unchanged");
    QTest::mouseClick(button("OKButton"), Qt::LeftButton);
    if (dialog->isVisible() || dialog->result() != QDialog::Accepted)
        return QStringLiteral("<not closed by OK>");
    return PickedPath;
}

void DialogTest::fixedAtItsScreenPlaceTabOrderNoEnterOrEscape() {
    open(home);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("フォルダ選択"));
    QCOMPARE(dialog->geometry(), QRect(184, 250, 301, 188));
    QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
    QVERIFY(dialog->isModal());
    QVERIFY(kestrom::test::drawsEveryGlyph(QStringLiteral("ｷｬﾝｾﾙ作業"), dialog->font()));
    QCOMPARE(QApplication::focusWidget(), button("OKButton"));
    for (QWidget* next : std::initializer_list<QWidget*>{button("CancelButton"), drive1(), dir1(),
                                                         button("OKButton")}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(button("OKButton"), key);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(button("OKButton"), Qt::Key_Space);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(PickedPath, home);
}

void DialogTest::opensOnTheDesktopByDefault() {
    // The real drive list, with the test's home folder on it.
    PickedPath.clear();
    dialog = std::make_unique<Dialog>(nullptr);
    QCOMPARE(dialog->drive(), kestrom::test::fakeHome());
    QCOMPARE(drive1()->itemText(0), QStringLiteral("/"));
    QCOMPARE(okResult(), kestrom::test::fakeDesktop());  // no trailing "/"
}

void DialogTest::withoutADesktopOpensOnTheHomeDrivesCurrentFolder() {
    const QString desktop = kestrom::test::fakeDesktop();
    QVERIFY(QDir().rename(desktop, desktop + QStringLiteral(".away")));
    const auto restore =
        qScopeGuard([&] { QDir().rename(desktop + QStringLiteral(".away"), desktop); });
    // The current folder is on another drive, so the home drive's is its top.
    dialog = std::make_unique<Dialog>(nullptr);
    QCOMPARE(dialog->drive(), kestrom::test::fakeHome());
    QCOMPARE(okResult(), kestrom::test::fakeHome());
}

void DialogTest::startingText_data() {
    QTest::addColumn<QString>("start");   // relative to the scratch folder when it starts with "@"
    QTest::addColumn<QString>("drive");   // expected Drive1
    QTest::addColumn<QString>("folder");  // expected Dir1
    QTest::newRow("existing folder, trailing slash") << "@home/曲/"
                                                     << "@home"
                                                     << "@home/曲";
    QTest::newRow("doubled slashes, dot entries") << "@home//曲/./c/.."
                                                  << "@home"
                                                  << "@home/曲";
    QTest::newRow("folder on a medium") << "@media/USB STICK/J-POP"
                                        << "@media/USB STICK"
                                        << "@media/USB STICK/J-POP";
    QTest::newRow("medium's top") << "@media/USB STICK"
                                  << "@media/USB STICK"
                                  << "@media/USB STICK";
    // A missing folder leaves the directory list on its drive's current folder.
    QTest::newRow("missing folder, current drive") << "@home/ない"
                                                   << "@home"
                                                   << "@home/作業";
    QTest::newRow("missing folder, other drive") << "@media/USB STICK/ない"
                                                 << "@media/USB STICK"
                                                 << "@media/USB STICK";
    QTest::newRow("missing folder on the root") << "/kestrom-no-such-folder/x"
                                                << "/"
                                                << "/";
    QTest::newRow("a file") << "@home/曲/song.mp3"
                            << "@home"
                            << "@home/作業";
    QTest::newRow("relative text") << "曲"
                                   << "@home"
                                   << "@home/作業";
    QTest::newRow("blanks") << "   "
                            << "@home"
                            << "@home/作業";
}

void DialogTest::startingText() {
    QFETCH(QString, start);
    QFETCH(QString, drive);
    QFETCH(QString, folder);
    const auto resolve = [this](QString text) {
        return text.startsWith(u'@') ? scratch->path() + QLatin1Char('/') + text.mid(1) : text;
    };
    ModalAnswers answers;  // loading never asks anything
    answers.ignoring(QStringLiteral("Dialog"));
    open(resolve(start));
    QVERIFY(PickedPath.isEmpty());
    QCOMPARE(dialog->drive(), resolve(drive));
    QCOMPARE(okResult(), resolve(folder));
    QCOMPARE(answers.unexpected(), 0);
}

void DialogTest::dirListShowsAncestorsThenSubfoldersIndented() {
    open(home + QStringLiteral("/曲"));
    QTreeWidgetItem* open = dir1()->currentItem();
    QCOMPARE(open->text(0), QStringLiteral("曲"));
    QVERIFY(open->isSelected());
    // Up from the open folder, one level per ancestor, to the root alone at the top.
    QStringList shown;
    for (QTreeWidgetItem* up = open; up != nullptr; up = up->parent()) shown.prepend(up->text(0));
    QCOMPARE(shown.join(u'/').mid(1), home + QStringLiteral("/曲"));
    QCOMPARE(dir1()->topLevelItemCount(), 1);
    // Below it its subfolders, sorted without regard to case, links followed,
    // hidden folders and files left out.
    QStringList subfolders;
    for (int i = 0; i < open->childCount(); ++i) subfolders << open->child(i)->text(0);
    QCOMPARE(subfolders, (QStringList{"a", "B", "c", "linked"}));
    QVERIFY(dir1()->visualItemRect(open->child(0)).left() > dir1()->visualItemRect(open).left());
}

void DialogTest::doubleClickOrEnterOpensHighlightingDoesNot() {
    open(home + QStringLiteral("/曲"));
    kestrom::test::doubleClick(dir1(), dir1()->indexFromItem(item(QStringLiteral("B"))));
    QCOMPARE(dir1()->currentItem()->text(0), QStringLiteral("B"));
    dir1()->setFocus();
    QTest::keyClick(dir1(), Qt::Key_Up);  // highlights the parent: B stays open
    QCOMPARE(dir1()->currentItem()->text(0), QStringLiteral("曲"));
    QTest::keyClick(dir1(), Qt::Key_Up);
    QTest::keyClick(dir1(), Qt::Key_Return);  // opens the highlighted entry
    QVERIFY(dialog->isVisible());
    QCOMPARE(okResult(), home);
}

void DialogTest::choosingADriveMovesToItsCurrentFolder() {
    open(home + QStringLiteral("/曲"));
    drive1()->setCurrentIndex(2);
    QCOMPARE(dir1()->currentItem()->text(0), QStringLiteral("USB STICK"));
    drive1()->setCurrentIndex(1);
    QCOMPARE(dir1()->currentItem()->text(0),
             QStringLiteral("作業"));  // the process's current folder
    drive1()->setCurrentIndex(0);
    QCOMPARE(okResult(), QStringLiteral("/"));  // the root keeps its slash
}

void DialogTest::unreadableDriveLeavesBothListsWithAMessage() {
    drives.push_back(bytes(scratch->filePath(QStringLiteral("media/pulled out"))));
    ModalAnswers answers;
    answers.ignoring(QStringLiteral("Dialog"));
    // Loading onto it fails without a word.
    open(scratch->filePath(QStringLiteral("media/pulled out/music")));
    QCOMPARE(dialog->drive(), home);
    QCOMPARE(answers.unexpected(), 0);
    // Choosing it says so, and the lists stay where they were.
    answers.thenMessage();
    drive1()->setCurrentIndex(3);
    QCOMPARE(answers.messages(), QStringList{scratch->filePath(QStringLiteral("media/pulled out")) +
                                             QStringLiteral(" を読み取れません。")});
    QCOMPARE(dialog->drive(), home);
    QCOMPARE(drive1()->currentIndex(), 1);
    QCOMPARE(okResult(), cwd);
}

void DialogTest::folderGoneBeforeItIsOpenedGivesAMessage() {
    open(home + QStringLiteral("/曲"));
    QVERIFY(QDir(home + QStringLiteral("/曲/c")).removeRecursively());
    ModalAnswers answers;
    answers.ignoring(QStringLiteral("Dialog")).thenMessage();
    kestrom::test::doubleClick(dir1(), dir1()->indexFromItem(item(QStringLiteral("c"))));
    QCOMPARE(answers.messages(), QStringList{home + QStringLiteral("/曲/c を開けません。")});
    QCOMPARE(okResult(), home + QStringLiteral("/曲"));
}

KESTROM_UI_TEST_MAIN(DialogTest)
#include "DialogTest.moc"
