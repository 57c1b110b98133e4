// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Catalogue.h"

#include <libintl.h>

#include <clocale>

#include "platform/ProgramFolder.h"

namespace kestrom::cli {
namespace {

constexpr const char* kDomain = "kestrom-cli";

}  // namespace

void openCatalogue(platform::Posix& posix) {
    std::setlocale(LC_ALL, "");
    const std::string folder = platform::programFolder(posix);
    if (!folder.empty()) {
        const std::string locale = folder + KESTROM_BIN_TO_DATADIR "/locale";
        ::bindtextdomain(kDomain, locale.c_str());
    }
    // The catalogue's texts come as UTF-8 whatever the locale's character set,
    // as the file names in the messages do.
    ::bind_textdomain_codeset(kDomain, "UTF-8");
}

std::string translate(const char* english) {
    return ::dgettext(kDomain, english);
}

}  // namespace kestrom::cli
