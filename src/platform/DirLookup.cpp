// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DirLookup.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/FileOps.h"
#include "platform/Text.h"

namespace kestrom::platform {

DirEntry entryFromStat(std::string name, const struct stat& st) {
    DirEntry entry{std::move(name), EntryKind::Other, 0, 0};
    if (S_ISREG(st.st_mode)) {
        entry.kind = EntryKind::File;
    } else if (S_ISDIR(st.st_mode)) {
        entry.kind = EntryKind::Directory;
        entry.device = st.st_dev;
        entry.inode = st.st_ino;
    }
    return entry;
}

namespace {

// Whether the name that opens a file is the name it is stored under. Not on
// Windows, where a name opens its file whatever its letter case: there only a
// listing tells how a name is stored.
#ifdef _WIN32
constexpr bool kOpeningNameIsStored = false;
#else
constexpr bool kOpeningNameIsStored = true;
#endif

bool isDotEntry(std::string_view name) {
    return name == "." || name == "..";
}

bool admits(const DirEntry& entry, Filter filter) {
    if (isDotEntry(entry.name)) return filter == Filter::Folder;
    if (entry.name.starts_with('.')) return false;  // hidden
    switch (entry.kind) {
        case EntryKind::File: return true;
        case EntryKind::Directory: return filter == Filter::Folder;
        case EntryKind::BrokenLink: return filter == Filter::PlainOrBrokenLink;
        case EntryKind::Other: return false;  // system
    }
    return false;
}

bool wildcardMatch(std::u16string_view name, std::u16string_view pattern) {
    // Iterative matcher with one back-tracking point, linear in practice.
    std::size_t n = 0, p = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n, ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++, starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1, n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace

void sortEntries(std::vector<DirEntry>& entries) {
    struct Keyed {
        std::u16string key;
        DirEntry* entry;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries.size());
    for (DirEntry& e : entries) keyed.push_back({foldName(e.name), &e});
    auto rank = [](const DirEntry& e) { return e.name == "." ? 0 : e.name == ".." ? 1 : 2; };
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        if (rank(*a.entry) != rank(*b.entry)) return rank(*a.entry) < rank(*b.entry);
        if (a.key != b.key) return a.key < b.key;
        return a.entry->name < b.entry->name;
    });
    std::vector<DirEntry> sorted;
    sorted.reserve(entries.size());
    for (Keyed& k : keyed) sorted.push_back(std::move(*k.entry));
    entries = std::move(sorted);
}

bool matchesWildcard(std::string_view name, std::string_view pattern) {
    return wildcardMatch(foldName(name), foldName(pattern));
}

const std::string* pickSpelling(const std::vector<std::string>& names, std::string_view wanted) {
    const std::string* best = nullptr;
    for (const std::string& name : names) {
        if (name == wanted) return &name;
        if (best == nullptr || name < *best) best = &name;
    }
    return best;
}

std::string folderToOpen(std::string_view folder) {
    return folder.empty() ? "." : std::string(folder);
}

std::pair<std::string_view, std::string_view> splitPath(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return {std::string_view{}, path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::string DirLookup::first(std::string_view pattern, Filter filter) {
    return start(pattern, filter, true);
}

std::string DirLookup::firstLiteral(std::string_view pattern, Filter filter) {
    return start(pattern, filter, false);
}

std::string DirLookup::next() {
    return advance();
}

std::string DirLookup::start(std::string_view pattern, Filter filter, bool wildcards) {
    m_matches.clear();
    m_position = 0;
    m_lastError = 0;
    m_hidden.clear();
    const auto [folder, name] = splitPath(pattern);
    const bool literal =
        !name.empty() && (!wildcards || name.find_first_of("*?") == std::string_view::npos);

    // A name spelled exactly as on disk needs no listing of its folder; "." and
    // ".." are only ever returned from a listing.
    if (kOpeningNameIsStored && literal && !isDotEntry(name)) {
        const std::string path(pattern);
        if (struct stat st{}; m_posix.stat(path.c_str(), &st) == 0) {
            DirEntry entry = entryFromStat(std::string(name), st);
            if (admits(entry, filter)) {
                m_matches.push_back(std::move(entry));
                return advance();
            }
        }
    }

    std::vector<DirEntry> entries;
    const std::string open = folderToOpen(folder);
    if (m_posix.listDirectory(open.c_str(), entries) != 0) {
        m_lastError = errno;
        return {};
    }
    if (filter == Filter::Folder) {
        struct stat st {};
        if (m_posix.stat(open.c_str(), &st) == 0) {
            entries.push_back(entryFromStat(".", st));
            entries.push_back({"..", EntryKind::Directory, 0, 0});
        }
    }
    for (const DirEntry& e : entries)
        if (e.name.starts_with('.') && !isDotEntry(e.name)) m_hidden.push_back(e.name);
    std::erase_if(entries, [&](const DirEntry& e) { return !admits(e, filter); });

    if (literal) {
        const std::u16string wanted = foldName(name);
        std::erase_if(entries, [&](const DirEntry& e) { return foldName(e.name) != wanted; });
        std::vector<std::string> spellings;
        spellings.reserve(entries.size());
        for (const DirEntry& e : entries) spellings.push_back(e.name);
        if (const std::string* pick = pickSpelling(spellings, name))
            m_matches.push_back(
                std::move(entries[static_cast<std::size_t>(pick - spellings.data())]));
        return advance();
    }

    if (!name.empty()) {
        const std::u16string foldedPattern = foldName(name);
        std::erase_if(entries, [&](const DirEntry& e) {
            return !wildcardMatch(foldName(e.name), foldedPattern);
        });
    }
    sortEntries(entries);
    m_matches = std::move(entries);
    return advance();
}

std::string DirLookup::advance() {
    if (m_position >= m_matches.size()) {
        m_matches.clear();
        m_position = 0;
        return {};
    }
    return m_matches[m_position++].name;
}

}  // namespace kestrom::platform
