// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Translations.h"

#include <QLocale>

namespace kestrom::ui {

QTranslator* loadTranslation() {
    const QLocale locale;
    if (locale.language() == QLocale::Japanese) return nullptr;
    // The translations are built into the program (resources under :/i18n), so
    // no file is read for them.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(locale, QStringLiteral("kestrom"), QStringLiteral("_"),
                         QStringLiteral(":/i18n")) ||
        translator->load(QStringLiteral(":/i18n/kestrom_en.qm"))) {
        QCoreApplication::installTranslator(translator);
        return translator;
    }
    delete translator;
    return nullptr;
}

}  // namespace kestrom::ui
