// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Posix.h"

namespace kestrom::platform {

// Which entries a lookup returns. Hidden means a name that starts with "."; system
// means anything that is neither a regular file nor a directory.
enum class Filter {
    Plain,  // plain files: neither hidden, system nor directories
    // Plain files, and links that are not hidden and lead nowhere (the entry's
    // kind tells them apart): what a user takes for files in a folder, including
    // those that cannot be opened.
    PlainOrBrokenLink,
    Folder,  // plain files and directories that are neither hidden nor system,
             // including "." and ".."
};

// Sorts entries into the one fixed order in which every listing comes: by the
// folded names (foldName: upper-cased), UTF-16 code unit by code unit, names that
// differ only in letter case or normalisation by their bytes. "." and ".." stay
// first.
void sortEntries(std::vector<DirEntry>& entries);

// True when name matches pattern, where "*" stands for any run of characters and
// "?" for one character; letter case and Unicode normalisation are ignored as
// foldName() ignores them.
bool matchesWildcard(std::string_view name, std::string_view pattern);

// Of several names that are the same name (see foldName), the one spelled
// exactly as wanted, else the first in byte order. nullptr when names is empty.
const std::string* pickSpelling(const std::vector<std::string>& names, std::string_view wanted);

// The directory lookup: one enumeration at a time, started by first() and
// continued by next(); each first() ends the enumeration before it.
//
// A pattern is a folder path ending in "/" (every entry of that folder), or a
// folder path and a name, which may hold the wildcards "*" and "?". Names match
// without regard to letter case or Unicode normalisation (see foldName) and are
// returned exactly as stored on disk. Where a name without wildcards matches
// several names that differ only in case or normalisation, the one spelled
// exactly like the pattern is returned, else the first in byte order.
class DirLookup {
public:
    explicit DirLookup(Posix& posix) : m_posix(posix) {}

    // The first matching name, or "" when nothing matches (or the folder cannot
    // be read; lastError() then tells why).
    std::string first(std::string_view pattern, Filter filter);
    // The same, with the name part taken literally: "*" and "?" are characters
    // of the name, as they may be on Linux.
    std::string firstLiteral(std::string_view pattern, Filter filter);
    // The next match of the running enumeration, or "" at its end.
    std::string next();

    // The entry of the name that first() or next() returned last; only valid
    // while that name is not empty.
    const DirEntry& current() const { return m_matches[m_position - 1]; }
    // The errno of the last listing that failed, 0 when the last one succeeded.
    int lastError() const { return m_lastError; }
    // The names of the hidden entries (starting with ".", but "." and "..")
    // that the last listing of a folder found, whatever the filter.
    const std::vector<std::string>& hiddenNames() const { return m_hidden; }
    // The system calls the lookup makes, for a caller that lists folders its own way.
    Posix& posix() const { return m_posix; }

private:
    std::string start(std::string_view pattern, Filter filter, bool wildcards);
    std::string advance();

    Posix& m_posix;
    std::vector<DirEntry> m_matches;
    std::size_t m_position = 0;
    int m_lastError = 0;
    std::vector<std::string> m_hidden;
};

// Splits a path into its folder part, with the trailing "/", and its last name.
// "a/b/c" gives "a/b/" and "c"; "c" gives "" and "c"; "a/b/" gives "a/b/" and "".
std::pair<std::string_view, std::string_view> splitPath(std::string_view path);

// The folder part of a path as a path to open: "." when it is empty.
std::string folderToOpen(std::string_view folder);

}  // namespace kestrom::platform
