// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>
#include <vector>

namespace kestrom::test {

// The home folder every UI test runs in: a fresh temporary folder whose desktop
// folder has its name on a Japanese desktop, "デスクトップ", declared through
// the user-dirs file as desktops do. Created by KESTROM_UI_TEST_MAIN before the
// application starts; removed when the test program ends.
QString fakeHome();
QString fakeDesktop();  // fakeHome() + "/デスクトップ", without a trailing "/"

// Answers the modal windows that open while it lives, one step per window, in
// the order they open. A window that opens when no step is left is closed and
// counted in unexpected(), so that a test never hangs on a box it did not
// foresee; a window still open when the object goes away is closed too.
class ModalAnswers : public QObject {
public:
    ModalAnswers();
    ~ModalAnswers() override;

    // step gets the modal window; it must close it (click its button...).
    ModalAnswers& then(std::function<void(QWidget*)> step);
    // A message box: records its text in messages() and presses its OK button.
    ModalAnswers& thenMessage();
    // Leaves the modal window of that objectName alone: the window under test,
    // shown by the test itself.
    ModalAnswers& ignoring(const QString& objectName);

    int answered() const { return m_answered; }
    int unexpected() const { return m_unexpected; }
    const QStringList& messages() const { return m_messages; }

private:
    void poll();

    QTimer m_timer;
    std::vector<std::function<void(QWidget*)>> m_steps;
    std::size_t m_next = 0;
    QPointer<QWidget> m_last;
    QStringList m_ignored;
    int m_answered = 0;
    int m_unexpected = 0;
    QStringList m_messages;
};

// Checks that a message box has the house form: title "Kestrom", one OK
// button, no icon. Returns its text.
QString checkMessageBox(QWidget* window);

// True when every character of text has a glyph in font or its fallbacks, so
// that nothing shows as an empty box.
bool drawsEveryGlyph(const QString& text, const QFont& font);

// The widget of that objectName under root; fails the test when there is none.
template <typename T>
T* child(QObject* root, const QString& name) {
    T* widget = root->findChild<T*>(name);
    if (widget == nullptr) qFatal("no control %s", qPrintable(name));
    return widget;
}

// A user's double-click on an item of a list: press, release, double-click, release.
void doubleClick(QAbstractItemView* view, const QModelIndex& index);

void prepareFakeDesktop();

}  // namespace kestrom::test

#define KESTROM_UI_TEST_MAIN(TestClass)         \
    int main(int argc, char* argv[]) {          \
        kestrom::test::prepareFakeDesktop();    \
        QApplication app(argc, argv);           \
        TestClass test;                         \
        return QTest::qExec(&test, argc, argv); \
    }
