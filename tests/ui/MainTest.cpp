// SPDX-License-Identifier: GPL-3.0-or-later
// The windows as a user drives them from the main window. Runs use the stand-in
// tag library, whose "MP3 files" are text files: "A=title" lines, "FAIL" for an
// unreadable tag, "LOCKED" for one that cannot be written.
#include <QtTest>
#include <QtWidgets>
#include <functional>
#include <memory>

#include "engine/Messages.h"
#include "platform/FileError.h"
#include "support/FaultyPosix.h"
#include "support/TempDir.h"
#include "ui/Main.h"
#include "ui/Translations.h"

using namespace Qt::StringLiterals;
using namespace kestrom::test;

namespace {

// The home folder every window test runs in, whose desktop has its Japanese
// name, "デスクトップ", declared in the user-dirs file as desktops do.
const TempDir& fakeHome() {
    static const TempDir home;
    return home;
}

// Clicks button and answers the modal windows that open meanwhile: step gets
// the first and may press one of its buttons. Whatever is still open after it,
// and any later window, is closed, so that no test hangs on a window it did not
// foresee. Returns how many opened.
int clickAnswering(QAbstractButton* button, const std::function<void(QWidget*)>& step) {
    int opened = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QPointer<QWidget> window = QApplication::activeModalWidget();
        if (window == nullptr || !window->isVisible()) return;
        if (++opened == 1) step(window);
        if (window && window->isVisible()) window->close();
    });
    timer.start(5);
    QTest::mouseClick(button, Qt::LeftButton);
    return opened;
}

// The widget of that objectName under root; ends the test program when there is none.
template <typename T>
T* child(QObject* root, const QString& name) {
    T* widget = root->findChild<T*>(name);
    if (widget == nullptr) qFatal("no control %s", qPrintable(name));
    return widget;
}

}  // namespace

class MainTest : public QObject {
    Q_OBJECT

public:
    // Before the application starts, so that it finds this home and its desktop.
    static void initMain() {
        const QByteArray home = QByteArray::fromStdString(fakeHome().path());
        qputenv("HOME", home);
        qputenv("XDG_CONFIG_HOME", home + "/.config");
        qputenv("XDG_RUNTIME_DIR", home);  // private, as Qt wants it
        makeDirs(fakeHome() / "デスクトップ");
        writeFile(fakeHome() / ".config/user-dirs.dirs",
                  "XDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n");
    }

private slots:
    void init() {
        scratch = std::make_unique<TempDir>();
        main = std::make_unique<kestrom::ui::Main>(posix, FAKE_TAG_LIBRARY);
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
        QApplication::setActiveWindow(main.get());
    }
    void cleanup() { main.reset(); }

    void startsOnTheDesktopFolderWhichOverlapsItself() {
        QCOMPARE(text1(0)->text(), qs(fakeHome() / "デスクトップ/"));
        QCOMPARE(text1(1)->text(), text1(0)->text());
        QVERIFY(!main->replaceFlag());
        QCOMPARE(counter(), u"0000 / 0000"_s);
        QCOMPARE(QApplication::focusWidget(), text1(0));
        QCOMPARE(main->windowTitle(), u"Kestrom Ver." KESTROM_VERSION ""_s);
        // The desktop icon, as the build folder's share/ holds it beside bin/.
        QCOMPARE(main->windowIcon().availableSizes(),
                 (QList<QSize>{{48, 48}, {128, 128}, {256, 256}}));
        // Executed at once, the run finds the two folders overlapping.
        QString shown;
        const auto message = [&](QWidget* box) {
            shown = box->windowTitle() + u": "_s + box->property("text").toString();
        };
        QCOMPARE(clickAnswering(button(u"Command2"_s), message), 1);
        QCOMPARE(shown, u"Kestrom: 指定パスの範囲が重複しています。"_s);
    }

    // Without the desktop folder that the user folders name, both boxes start on
    // the home folder rather than on a path that is not there.
    void startsOnTheHomeFolderWithoutADesktopFolder() {
        const std::string desktop = fakeHome() / "デスクトップ", aside = fakeHome() / "moved";
        std::filesystem::rename(desktop, aside);
        kestrom::ui::Main fresh(posix, FAKE_TAG_LIBRARY);
        std::filesystem::rename(aside, desktop);
        for (const char* box : {"Text1_0", "Text1_1"})
            QCOMPARE(child<QLineEdit>(&fresh, QLatin1String(box))->text(),
                     qs(fakeHome().path() + "/"));
    }

    // Under a Japanese locale the windows keep their Japanese texts; under any
    // other they speak English, the messages of a run too, each reason with its
    // number. Every text the run shares with kestrom-cli has its translation.
    void followsTheLocale_data() {
        QTest::addColumn<QLocale::Language>("language");
        QTest::addColumn<QString>("execute");
        QTest::addColumn<QString>("overlap");
        QTest::addColumn<QString>("moveFailed");
        QTest::newRow("ja") << QLocale::Japanese << u"実行"_s
                            << u"指定パスの範囲が重複しています。"_s
                            << u":(58)ファイルは既に存在します。"_s;
        QTest::newRow("en") << QLocale::English << u"Run"_s << u"The two folders overlap."_s
                            << u":(58)File already exists."_s;
        QTest::newRow("de") << QLocale::German << u"Run"_s << u"The two folders overlap."_s
                            << u":(58)File already exists."_s;
    }
    void followsTheLocale() {
        QFETCH(QLocale::Language, language);
        QFETCH(QString, execute);
        QFETCH(QString, overlap);
        QFETCH(QString, moveFailed);
        QLocale::setDefault(QLocale(language));
        const std::unique_ptr<QTranslator> translator(kestrom::ui::loadTranslation());
        main = std::make_unique<kestrom::ui::Main>(posix, FAKE_TAG_LIBRARY);
        QCOMPARE(button(u"Command2"_s)->text(), execute);
        QStringList shown;
        const auto message = [&](QWidget* box) { shown << box->property("text").toString(); };
        QCOMPARE(clickAnswering(button(u"Command2"_s), message), 1);

        // SONG.mp3 may not replace the Song.mp3 that Song.mp3 has just put there.
        writeTree(scratch->path(), "library/Song.mp3:A=x work/Song.mp3: work/SONG.mp3:");
        text1(0)->setText(qs(*scratch / "library"));
        text1(1)->setText(qs(*scratch / "work"));
        child<QCheckBox>(main.get(), u"Check1"_s)->setChecked(true);
        QCOMPARE(clickAnswering(button(u"Command2"_s), message), 1);
        QCOMPARE(shown, (QStringList{overlap, qs(*scratch / "library/Song.mp3") + moveFailed}));

        std::vector<kestrom::platform::Text> texts = kestrom::engine::texts::all();
        for (const auto& [number, text] : kestrom::platform::fileErrorTexts())
            texts.push_back(text);
        const kestrom::platform::Language& expected = language == QLocale::Japanese
                                                          ? kestrom::platform::japanese()
                                                          : kestrom::platform::english();
        for (const kestrom::platform::Text& text : texts)
            QCOMPARE(main->language()(text), expected(text));
        if (translator) QCoreApplication::removeTranslator(translator.get());
        QLocale::setDefault(QLocale(QLocale::Japanese));
    }

    // A clean run opens no window; a run with failures lists the work files that
    // failed in the error list window, its text verbatim, and gives Exit the focus.
    void runCountsAndListsTheFailedNames() {
        writeTree(scratch->path(),
                  "library/J-POP/Song.mp3:A=Song library/a/b/Duet.mp3:A=Duet "
                  "work/Song.mp3: work/Duet_K.mp3:");
        text1(0)->setText(qs(*scratch / "library"));
        text1(1)->setText(qs(*scratch / "work/"));
        QString shown;
        const auto errorList = [&](QWidget* window) {
            QCOMPARE(window->windowTitle(), u"Copy Error List"_s);
            shown = child<QPlainTextEdit>(window, u"ErrList"_s)->toPlainText();
            QTest::mouseClick(child<QPushButton>(window, u"OKButton"_s), Qt::LeftButton);
        };
        QCOMPARE(clickAnswering(button(u"Command2"_s), errorList), 0);
        QCOMPARE(counter(), u"0002 / 0000"_s);

        writeTree(scratch->path(), "library/Bad.mp3:FAIL work/Bad.mp3: work/Locked.mp3:LOCKED");
        writeFile(*scratch / "work/歌  two  blanks_K.mp3", "");
        QCOMPARE(clickAnswering(button(u"Command2"_s), errorList), 1);
        QCOMPARE(shown, u"Bad.mp3\nLocked.mp3\n歌  two  blanks_K.mp3\n"_s);
        QCOMPARE(counter(), u"0002 / 0003"_s);
        QCOMPARE(main->focusWidget(), button(u"Command3"_s));
    }

    // From each row's box the picker opens on start, listing the subfolders in
    // order regardless of case; there the user changes to the home drive when
    // asked, opens "sub" with a double-click, when it is listed, highlights its
    // subfolder "inner" with a click, and ends with answer. "@" stands for the
    // scratch folder, "~" for the home folder.
    void browse() {
        struct Case {
            int row;
            QString start, answer, result;
            bool homeDrive = false;
        };
        const Case cases[] = {
            {0, u"@/曲/"_s, u"OK"_s, u"@/曲/sub"_s},
            {1, u"@/曲/"_s, u"Cancel"_s, u"@/曲/"_s},
            {1, QString(), u"OK"_s, u"~/デスクトップ"_s},  // an empty box: the desktop
            // The drive's current folder, its top when the process works elsewhere,
            // or when the process's folder there cannot be listed.
            {0, u"~/ない/"_s, u"OK"_s, u"~"_s},
            {0, u"@/曲/"_s, u"OK"_s, u"~"_s, true},
        };
        const auto resolve = [this](QString text) {
            return text.replace(u'@', qs(scratch->path())).replace(u'~', qs(fakeHome().path()));
        };
        makeDirs(*scratch / "曲/sub/inner");
        makeDirs(*scratch / "曲/Beta");
        makeDirs(*scratch / "曲/alpha");
        makeDirs(fakeHome() / "here");  // the process's folder on the home drive
        const QString workingFolder = QDir::currentPath();
        for (const Case& c : cases) {
            text1(c.row)->setText(resolve(c.start));
            QStringList listed;
            const auto pick = [&](QWidget* window) {
                QCOMPARE(window->windowTitle(), u"フォルダ選択"_s);
                auto* dir = child<QTreeWidget>(window, u"Dir1"_s);
                for (int i = 0; i < dir->currentItem()->childCount(); ++i)
                    listed << dir->currentItem()->child(i)->text(0);
                if (c.homeDrive) {
                    // A message that the drive cannot be read is closed, so that
                    // the test fails on the result rather than hang.
                    QTimer::singleShot(100, window, [window] {
                        if (QWidget* box = QApplication::activeModalWidget(); box != window)
                            box->close();
                    });
                    auto* drives = child<QComboBox>(window, u"Drive1"_s);
                    posix.failAt(Call::ListDirectory, posix.calls(Call::ListDirectory) + 1, EACCES);
                    drives->setCurrentIndex(drives->findText(qs(fakeHome().path())));
                }
                const auto at = [dir](const QString& name) {
                    const auto items = dir->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
                    return items.isEmpty() ? QPoint() : dir->visualItemRect(items.front()).center();
                };
                if (const QPoint sub = at(u"sub"_s); !sub.isNull()) {
                    QTest::mouseClick(dir->viewport(), Qt::LeftButton, {}, sub);
                    QTest::mouseDClick(dir->viewport(), Qt::LeftButton, {}, sub);
                    QTest::mouseClick(dir->viewport(), Qt::LeftButton, {}, at(u"inner"_s));
                }
                QTest::mouseClick(child<QPushButton>(window, c.answer + u"Button"_s),
                                  Qt::LeftButton);
            };
            QDir::setCurrent(c.homeDrive ? qs(fakeHome() / "here") : workingFolder);
            QCOMPARE(clickAnswering(button(u"Command1_%1"_s.arg(c.row)), pick), 1);
            QDir::setCurrent(workingFolder);
            QCOMPARE(text1(c.row)->text(), resolve(c.result));
            if (c.start == u"@/曲/"_s)
                QCOMPARE(listed, (QStringList{u"alpha"_s, u"Beta"_s, u"sub"_s}));
        }
    }

private:
    QLineEdit* text1(int i) { return child<QLineEdit>(main.get(), u"Text1_%1"_s.arg(i)); }
    QPushButton* button(const QString& name) { return child<QPushButton>(main.get(), name); }
    QString counter() { return child<QLabel>(main.get(), u"Label2"_s)->text(); }
    static QString qs(const std::string& path) { return QString::fromStdString(path); }

    std::unique_ptr<TempDir> scratch;
    FaultyPosix posix;
    std::unique_ptr<kestrom::ui::Main> main;
};

QTEST_MAIN(MainTest)
#include "MainTest.moc"
