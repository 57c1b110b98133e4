// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FolderCheck.h"

#include <algorithm>

#include "platform/Text.h"

namespace kestrom::engine {
namespace {

bool overlap(std::string_view a, std::string_view b) {
    const std::u16string x = platform::toUtf16(a);
    const std::u16string y = platform::toUtf16(b);
    const std::size_t m = std::min(x.size(), y.size());
    return x.compare(0, m, y, 0, m) == 0;
}

bool namesFolder(std::string_view text, platform::DirLookup& lookup) {
    if (text.find_first_of("*?") != std::string_view::npos) return false;
    return !lookup.first(text, platform::Filter::Folder).empty() &&
           lookup.current().kind == platform::EntryKind::Directory;
}

}  // namespace

std::optional<std::string> checkFolders(std::string_view libraryText, std::string_view workText,
                                        platform::DirLookup& lookup) {
    if (overlap(libraryText, workText)) return std::string(kOverlapMessage);
    for (std::string_view text : {libraryText, workText}) {
        if (!namesFolder(text, lookup))
            return platform::displayName(text) + std::string(kMissingFolderSuffix);
    }
    return std::nullopt;
}

}  // namespace kestrom::engine
