// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace kestrom::test {

// The home folder every window test runs in: a fresh temporary folder whose
// desktop has its Japanese name, "デスクトップ", declared in the user-dirs file
// as desktops do. Set up by KESTROM_UI_TEST_MAIN before the application starts.
inline QString fakeHome() {
    static const QTemporaryDir home;
    return home.path();
}
inline QString fakeDesktop() {
    return fakeHome() + QStringLiteral("/デスクトップ");
}

inline void prepareFakeHome() {
    const QString config = fakeHome() + QStringLiteral("/.config");
    QDir().mkpath(fakeDesktop());
    QDir().mkpath(config);
    QFile dirs(config + QStringLiteral("/user-dirs.dirs"));
    if (!dirs.open(QIODevice::WriteOnly) ||
        dirs.write("XDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n") < 0)
        qFatal("cannot write user-dirs.dirs");
    qputenv("HOME", QFile::encodeName(fakeHome()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(fakeHome()));  // private, as Qt wants it
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

}  // namespace kestrom::test

#define KESTROM_UI_TEST_MAIN(TestClass)         \
    int main(int argc, char* argv[]) {          \
        kestrom::test::prepareFakeHome();       \
        QApplication app(argc, argv);           \
        TestClass test;                         \
        return QTest::qExec(&test, argc, argv); \
    }
