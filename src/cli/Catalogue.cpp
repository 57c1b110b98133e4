// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Catalogue.h"

#include "platform/ProgramFolder.h"

#ifdef _WIN32
#include <optional>

#include "cli/MoFile.h"
#include "platform/UserLanguage.h"
#else
#include <libintl.h>

#include <clocale>
#endif

namespace kestrom::cli {
namespace {

constexpr const char* kDomain = "kestrom-cli";

// Where the catalogue of a language lies: share/locale beside the program's
// bin/ (in its own folder on Windows), as installed or in the build folder.
std::string localeFolder(platform::Posix& posix) {
    const std::string folder = platform::programFolder(posix);
    return folder.empty() ? folder : folder + KESTROM_BIN_TO_DATADIR "/locale";
}

}  // namespace

#ifdef _WIN32

namespace {

// The catalogue of the user's language; nothing for English, the texts' own.
std::optional<MoFile>& catalogue() {
    static std::optional<MoFile> file;
    return file;
}

}  // namespace

void openCatalogue(platform::Posix& posix) {
    const std::string folder = localeFolder(posix);
    if (folder.empty() || !platform::userPrefersJapanese()) return;
    catalogue() = MoFile::read(posix, folder + "/ja/LC_MESSAGES/" + kDomain + ".mo");
}

std::string translate(const char* english) {
    const std::optional<MoFile>& file = catalogue();
    return file ? file->find(english).value_or(english) : english;
}

std::string translatePlural(const char* singular, const char* plural, std::size_t n) {
    const std::optional<MoFile>& file = catalogue();
    std::optional<std::string> text;
    if (file) text = file->findPlural(singular, plural, n);
    return text ? *text : n == 1 ? singular : plural;
}

#else

void openCatalogue(platform::Posix& posix) {
    std::setlocale(LC_ALL, "");
    const std::string folder = localeFolder(posix);
    if (!folder.empty()) ::bindtextdomain(kDomain, folder.c_str());
    // The catalogue's texts come as UTF-8 whatever the locale's character set,
    // as the file names in the messages do.
    ::bind_textdomain_codeset(kDomain, "UTF-8");
}

std::string translate(const char* english) {
    return ::dgettext(kDomain, english);
}

std::string translatePlural(const char* singular, const char* plural, std::size_t n) {
    return ::dngettext(kDomain, singular, plural, static_cast<unsigned long>(n));
}

#endif

}  // namespace kestrom::cli
