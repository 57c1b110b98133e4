// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

#include "platform/Posix.h"
#include "platform/Texts.h"

namespace kestrom::cli {

// kestrom-cli's message catalogue, domain "kestrom-cli", whose source texts are
// the English ones; a catalogue per language (po/<language>.po) gives the
// others. A text the catalogue lacks, and every text under a language that has
// no catalogue (C, en_US...), shows in English.

// Finds the catalogue of the user's language in share/locale beside the
// program's bin/ (on Windows, in the program's own folder), as installed or in
// the build folder. On Linux gettext takes the language from the environment
// (LANG, LC_ALL, LC_MESSAGES, LANGUAGE) and reads its catalogues itself, not
// through the program's file-system seam: they are the program's own files,
// not the user's. Windows has no gettext: there the language is the one of
// platform::userPrefersJapanese(), and its catalogue is read through posix.
void openCatalogue(platform::Posix& posix);

// The English text in the user's language.
std::string translate(const char* english);
// The English text with a count, singular for 1 and plural otherwise, in the
// user's language and its form for n.
std::string translatePlural(const char* singular, const char* plural, std::size_t n);

// The texts of a run in the user's language, by their English text.
class CatalogueLanguage : public platform::Language {
public:
    std::string operator()(const platform::Text& text) const override { return translate(text.en); }
};

}  // namespace kestrom::cli
