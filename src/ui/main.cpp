// SPDX-License-Identifier: GPL-3.0-or-later
// The program: no command line is read; the main window opens and the program
// ends when it is closed.
#include <QApplication>

#include <csignal>

#include "binding/Vbmp3.h"
#include "platform/Posix.h"
#include "ui/Main.h"
#include "ui/Translations.h"

int main(int /*argc*/, char* argv[]) {
    // Qt takes its own options from the arguments it is given; the program
    // reads none, so it gives Qt the program's name alone.
    int qtArgc = 1;
    // A write past the file size limit then fails that file instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(qtArgc, argv);
    // The window's class (WM_CLASS) and the desktop entry it belongs to, so that
    // the desktop shows it under the menu entry's name and icon, whatever name
    // the program was started by.
    QApplication::setApplicationName(QStringLiteral("kestrom"));
    QGuiApplication::setDesktopFileName(QStringLiteral(KESTROM_APP_ID));
    // The windows speak the user's language: Japanese, or English where the
    // locale is another.
    kestrom::ui::loadTranslation();
    // The program's one way to the file system, handed to all that uses it.
    kestrom::platform::Posix& posix = kestrom::platform::systemPosix();
    kestrom::ui::Main window(posix, kestrom::binding::findTagLibrary(posix));
    window.show();
    return QApplication::exec();
}
