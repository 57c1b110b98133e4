// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FolderCheck.h"

#include <vector>

#include "platform/Text.h"

namespace kestrom::engine {
namespace {

// The folder a text names, as one absolute spelling. An existing path is
// resolved by the system (links included); any other is made absolute from the
// current folder and folded by its text.
std::string absolutePath(std::string_view text, platform::Posix& posix) {
    std::string resolved;
    if (posix.realpath(std::string(text).c_str(), resolved) == 0) return resolved;
    std::string path(text);
    if (!text.starts_with('/') && posix.realpath(".", resolved) == 0) path = resolved + "/" + path;

    std::vector<std::string_view> names;
    std::string_view rest = path;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view name = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            if (!names.empty()) names.pop_back();
            continue;
        }
        names.push_back(name);
    }
    std::string folded;
    for (std::string_view name : names) {
        folded += '/';
        folded += name;
    }
    return folded.empty() ? "/" : folded;
}

// True when folder is outer or lies inside it.
bool within(const std::string& folder, const std::string& outer) {
    return folder == outer || outer == "/" ||
           (folder.starts_with(outer) && folder[outer.size()] == '/');
}

bool overlap(std::string_view a, std::string_view b, platform::Posix& posix) {
    if (a.empty() || b.empty()) return true;
    const std::string x = absolutePath(a, posix);
    const std::string y = absolutePath(b, posix);
    return within(x, y) || within(y, x);
}

bool namesFolder(std::string_view text, platform::DirLookup& lookup) {
    return !lookup.firstLiteral(text, platform::Filter::Folder).empty() &&
           lookup.current().kind == platform::EntryKind::Directory;
}

}  // namespace

std::optional<std::string> checkFolders(std::string_view libraryText, std::string_view workText,
                                        platform::DirLookup& lookup, platform::Posix& posix) {
    if (overlap(libraryText, workText, posix)) return std::string(kOverlapMessage);
    for (std::string_view text : {libraryText, workText}) {
        if (!namesFolder(text, lookup))
            return platform::displayName(text) + std::string(kMissingFolderSuffix);
    }
    return std::nullopt;
}

std::string_view withoutTrailingSeparators(std::string_view text) {
    const std::size_t last = text.find_last_not_of('/');
    if (last == std::string_view::npos) return text.empty() ? text : "/";
    return text.substr(0, last + 1);
}

}  // namespace kestrom::engine
