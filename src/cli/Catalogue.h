// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "platform/Posix.h"
#include "platform/Texts.h"

namespace kestrom::cli {

// kestrom-cli's message catalogue: gettext's, domain "kestrom-cli", whose source
// texts are the English ones; a catalogue per language (po/<language>.po) gives
// the others. A text the catalogue lacks, and every text under a locale that has
// no catalogue (C, en_US...), shows in English.

// Takes the user's locale from the environment (LANG, LC_ALL, LC_MESSAGES,
// LANGUAGE) and finds the catalogues in share/locale beside the program's bin/,
// as installed or in the build folder. gettext reads them itself, not through
// the program's file-system seam: they are the program's own files, not the
// user's.
void openCatalogue(platform::Posix& posix);

// The English text in the user's language.
std::string translate(const char* english);

// The texts of a run in the user's language, by their English text.
class CatalogueLanguage : public platform::Language {
public:
    std::string operator()(const platform::Text& text) const override { return translate(text.en); }
};

}  // namespace kestrom::cli
