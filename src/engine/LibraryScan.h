// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/LibraryIndex.h"
#include "platform/DirLookup.h"
#include "platform/FileChange.h"

namespace kestrom::engine {

// The folders of the library tree and where each file name is first found.
struct LibraryScan {
    // Every folder of the tree, breadth-first: the root first, then its
    // subfolders in lookup order, then theirs, level by level. Each entry ends in
    // "/" and is built as its parent's entry, the name as stored and "/"; the
    // root is the library text and "/", never normalised.
    std::vector<std::string> SourceDirs;
    LibraryIndex index;
    // Hidden files that a killed run may have left in the tree's folders.
    std::vector<platform::Leftover> leftovers;
    // Folders that could not be listed, in scan order: the index of the folder in
    // SourceDirs (0 is the root) and the errno.
    struct Skipped {
        std::size_t folder;
        int error;
    };
    std::vector<Skipped> skipped;

    std::size_t DirCount() const { return SourceDirs.size(); }
};

// Lists the library tree under libraryText. Hidden folders and everything below
// them are left out. A link to a folder is followed, but no folder is listed
// twice, so a link loop ends. A folder that cannot be read is skipped and noted.
// The folder leaveOut (device and inode), when given, is never listed: a link in
// the library to the work folder would make every work file its own match.
LibraryScan scanLibrary(const std::string& libraryText, platform::DirLookup& lookup,
                        std::optional<std::pair<dev_t, ino_t>> leaveOut = std::nullopt);

}  // namespace kestrom::engine
