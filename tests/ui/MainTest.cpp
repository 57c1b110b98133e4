// SPDX-License-Identifier: GPL-3.0-or-later
// The windows as a user drives them from the main window. Runs use the stand-in
// tag library, whose "MP3 files" are text files: "A=title" lines, "FAIL" for an
// unreadable tag, "LOCKED" for one that cannot be written.
#include <QtTest>
#include <QtWidgets>
#include <functional>
#include <memory>

#include "engine/Run.h"
#include "ui/Main.h"

using namespace Qt::StringLiterals;

namespace {

// The home folder every window test runs in: a fresh temporary folder whose
// desktop has its Japanese name, "デスクトップ", declared in the user-dirs file
// as desktops do: main() points the environment there before the application
// starts, initTestCase() makes the folders before the first window opens.
QString fakeHome() {
    static const QTemporaryDir home;
    return home.path();
}

// Answers the modal windows that open while it lives: step gets the first and
// may press one of its buttons. Whatever is still open after it, and any later
// window, is closed, so that no test hangs on a window it did not foresee;
// opened counts them all.
class ModalAnswer : public QObject {
public:
    explicit ModalAnswer(std::function<void(QWidget*)> step) : m_step(std::move(step)) {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QPointer<QWidget> window = QApplication::activeModalWidget();
            if (window == nullptr || !window->isVisible()) return;
            if (++opened == 1) m_step(window);
            if (window && window->isVisible()) window->close();
        });
        m_timer.start(5);
    }
    int opened = 0;

private:
    std::function<void(QWidget*)> m_step;
    QTimer m_timer;
};

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

private slots:
    void initTestCase() {
        QFile dirs(fakeHome() + u"/.config/user-dirs.dirs"_s);
        QVERIFY(QDir().mkpath(fakeHome() + u"/デスクトップ"_s) &&
                QDir().mkpath(fakeHome() + u"/.config"_s) && dirs.open(QIODevice::WriteOnly) &&
                dirs.write("XDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n") > 0 && dirs.flush());
    }
    void init() {
        scratch = std::make_unique<QTemporaryDir>();
        main = std::make_unique<kestrom::ui::Main>(posix, FAKE_TAGLIB);
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
        QApplication::setActiveWindow(main.get());
    }
    void cleanup() { main.reset(); }

    void startsOnTheDesktopFolderWhichOverlapsItself() {
        QCOMPARE(text1(0)->text(), fakeHome() + u"/デスクトップ/"_s);
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
        ModalAnswer answer([&](QWidget* box) {
            shown = box->windowTitle() + u": "_s + box->property("text").toString();
        });
        QTest::mouseClick(button(u"Command2"_s), Qt::LeftButton);
        QCOMPARE(answer.opened, 1);
        QCOMPARE(shown, u"Kestrom: 指定パスの範囲が重複しています。"_s);
    }

    // A clean run opens no window; a run with failures lists the work files that
    // failed in the error list window, its text verbatim, and gives Exit the focus.
    void runCountsAndListsTheFailedNames() {
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
        write(u"work/Bad.mp3"_s);
        write(u"work/Locked.mp3"_s, "LOCKED\n");
        write(u"work/歌  two  blanks_K.mp3"_s);
        QTest::mouseClick(button(u"Command2"_s), Qt::LeftButton);
        QCOMPARE(answer.opened, 1);
        QCOMPARE(shown, u"Bad.mp3\nLocked.mp3\n歌  two  blanks_K.mp3\n"_s);
        QCOMPARE(counter(), u"0002 / 0003"_s);
        QCOMPARE(main->focusWidget(), button(u"Command3"_s));
    }

    void browse_data() {
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
    void browse() {
        QFETCH(int, row);
        QFETCH(QString, start);
        QFETCH(QString, answer);
        QFETCH(QString, result);
        const auto resolve = [this](QString text) {
            return text.replace(u'@', scratch->path()).replace(u'~', fakeHome());
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

private:
    QLineEdit* text1(int i) { return child<QLineEdit>(main.get(), u"Text1_%1"_s.arg(i)); }
    QPushButton* button(const QString& name) { return child<QPushButton>(main.get(), name); }
    QString counter() { return child<QLabel>(main.get(), u"Label2"_s)->text(); }
    QString folder(const QString& rel) { return scratch->filePath(rel); }

    std::unique_ptr<QTemporaryDir> scratch;
    kestrom::platform::Posix posix;
    std::unique_ptr<kestrom::ui::Main> main;
};

int main(int argc, char* argv[]) {
    qputenv("HOME", QFile::encodeName(fakeHome()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(fakeHome() + u"/.config"_s));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(fakeHome()));  // private, as Qt wants it
    QApplication app(argc, argv);
    MainTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainTest.moc"
