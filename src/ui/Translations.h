// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QTranslator>
#include <string>

#include "platform/Texts.h"

namespace kestrom::ui {

// The windows' texts are their Japanese ones, translated by Qt's translation
// files (kestrom_<language>.ts, the Japanese the source). The texts that the
// run shares with kestrom-cli (platform::Text) are in the context "Kestrom".
inline constexpr const char* kSharedContext = "Kestrom";

// The run's messages in the language of the translations the application has
// loaded: the Japanese text as it is when none is.
class TranslatedLanguage : public platform::Language {
public:
    std::string operator()(const platform::Text& text) const override {
        return QCoreApplication::translate(kSharedContext, text.ja).toStdString();
    }
};

// Loads the translation for the user's language (the system locale): none for
// Japanese, the windows' own texts; that language's where there is one; English
// for any other. Returns the translator installed, owned by the application, or
// null when none was.
QTranslator* loadTranslation();

}  // namespace kestrom::ui
