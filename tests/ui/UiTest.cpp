// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiTest.h"

#include <QDir>
#include <QFile>
#include <QGlyphRun>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextLayout>
#include <memory>

namespace kestrom::test {

namespace {

std::unique_ptr<QTemporaryDir>& scratch() {
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}

}  // namespace

void prepareFakeDesktop() {
    scratch() =
        std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/kestrom-ui-XXXXXX"));
    const QString home = fakeHome();
    QDir().mkpath(fakeDesktop());
    QDir().mkpath(home + QStringLiteral("/.config"));
    QDir().mkpath(home + QStringLiteral("/.run"));
    QFile::setPermissions(home + QStringLiteral("/.run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile dirs(home + QStringLiteral("/.config/user-dirs.dirs"));
    if (!dirs.open(QIODevice::WriteOnly)) qFatal("cannot write user-dirs.dirs");
    dirs.write("XDG_DESKTOP_DIR=\"$HOME/デスクトップ\"\n");
    dirs.close();
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home + QStringLiteral("/.run")));
}

QString fakeHome() {
    return scratch()->path() + QStringLiteral("/home");
}

QString fakeDesktop() {
    return fakeHome() + QStringLiteral("/デスクトップ");
}

ModalAnswers::ModalAnswers() {
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswers::poll);
    m_timer.start();
}

ModalAnswers::~ModalAnswers() {
    m_timer.stop();
    QWidget* open = QApplication::activeModalWidget();
    if (open != nullptr && !m_ignored.contains(open->objectName())) open->close();
}

ModalAnswers& ModalAnswers::then(std::function<void(QWidget*)> step) {
    m_steps.push_back(std::move(step));
    return *this;
}

ModalAnswers& ModalAnswers::thenMessage() {
    return then([this](QWidget* window) {
        m_messages.push_back(checkMessageBox(window));
        if (auto* box = qobject_cast<QMessageBox*>(window))
            box->button(QMessageBox::Ok)->click();
        else
            window->close();
    });
}

ModalAnswers& ModalAnswers::ignoring(const QString& objectName) {
    m_ignored.push_back(objectName);
    return *this;
}

void ModalAnswers::poll() {
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr || window == m_last || !window->isVisible()) return;
    if (m_ignored.contains(window->objectName())) return;
    m_last = window;
    if (m_next < m_steps.size()) {
        ++m_answered;
        // Steps may open further modal windows of their own; the timer goes on meanwhile.
        QPointer<QWidget> answered = window;
        m_steps[m_next++](window);
        // A step that stopped early (a failed check returns from it) leaves its
        // window open: close it, so that the test goes on to report the failure.
        if (answered && answered->isVisible() && QApplication::activeModalWidget() == answered) {
            qWarning("a step left its window %s open", qPrintable(answered->windowTitle()));
            ++m_unexpected;
            answered->close();
        }
    } else {
        ++m_unexpected;
        qWarning("unexpected modal window %s", qPrintable(window->windowTitle()));
        window->close();
    }
}

QString checkMessageBox(QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    if (box == nullptr) {
        qWarning("expected a message box, got %s", window->metaObject()->className());
        return QStringLiteral("<not a message box>");
    }
    if (box->windowTitle() != QStringLiteral("Kestrom") || box->buttons().size() != 1 ||
        box->button(QMessageBox::Ok) == nullptr || box->icon() != QMessageBox::NoIcon) {
        qWarning("message box of the wrong form: title %s, %lld buttons, icon %d",
                 qPrintable(box->windowTitle()), static_cast<long long>(box->buttons().size()),
                 static_cast<int>(box->icon()));
        return QStringLiteral("<wrong form> ") + box->text();
    }
    return box->text();
}

void doubleClick(QAbstractItemView* view, const QModelIndex& index) {
    view->scrollTo(index);
    const QPoint point = view->visualRect(index).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, point);
}

bool drawsEveryGlyph(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int glyphs = 0;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        for (quint32 index : run.glyphIndexes()) {
            if (index == 0) return false;  // .notdef, drawn as an empty box
            ++glyphs;
        }
    }
    return glyphs > 0 || text.isEmpty();
}

}  // namespace kestrom::test
