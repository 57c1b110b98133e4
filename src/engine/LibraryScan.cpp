// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LibraryScan.h"

#include <set>
#include <utility>

namespace kestrom::engine {

using platform::EntryKind;

LibraryScan scanLibrary(const std::string& libraryText, platform::DirLookup& lookup,
                        std::optional<std::pair<dev_t, ino_t>> leaveOut) {
    LibraryScan scan;
    scan.SourceDirs.push_back(libraryText + "/");
    std::set<std::pair<dev_t, ino_t>> listed;
    if (leaveOut) listed.insert(*leaveOut);

    for (std::size_t j = 0; j < scan.SourceDirs.size(); ++j) {
        // The entry is copied: push_back below may move the vector's strings.
        const std::string folder = scan.SourceDirs[j];
        std::string name = lookup.first(folder, platform::Filter::Folder);
        for (const std::string& hidden : lookup.hiddenNames())
            if (platform::isLeftoverName(hidden)) scan.leftovers.push_back({folder, hidden});
        for (; !name.empty(); name = lookup.next()) {
            const platform::DirEntry& entry = lookup.current();
            if (name == "." || name == "..") {
                // The root itself is remembered so that no link leads back into it.
                if (j == 0 && name == ".") listed.emplace(entry.device, entry.inode);
                continue;
            }
            if (entry.kind == EntryKind::Directory) {
                if (listed.emplace(entry.device, entry.inode).second)
                    scan.SourceDirs.push_back(folder + name + "/");
            } else {
                scan.index.add(j, name);
            }
        }
        if (lookup.lastError() != 0) scan.skipped.push_back({j, lookup.lastError()});
    }
    return scan;
}

}  // namespace kestrom::engine
