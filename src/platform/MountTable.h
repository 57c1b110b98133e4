// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Posix.h"

// The mount table of this process (/proc/self/mountinfo), which tells where each
// file system, or a folder of it, is mounted. Paths are file-name bytes.
namespace kestrom::platform {

// One line of the table:
//   id parent major:minor root mount-point options [optional...] - type source super-options
struct Mount {
    int id = 0;
    int parent = 0;      // the mount this one is mounted on
    std::string device;  // "major:minor": the file system
    std::string root;    // the folder of the file system shown here, from the file system's root
    std::string point;   // where it is shown
    std::string type;    // the file system's type
};

// The mounts of a table, in its order. Blanks and other characters that the
// table writes as "\ooo" are unescaped; malformed lines are skipped.
std::vector<Mount> parseMountInfo(std::string_view text);

// The text of this process's mount table, read through posix; empty when it
// cannot be read.
std::string readMountInfo(Posix& posix);

// A folder named by its file system and its path from that file system's root:
// the same folder has the same name wherever it is shown, through a bind mount
// of it or of a folder above it too.
struct FileSystemPath {
    std::string device;  // as Mount::device
    std::string path;    // absolute, without a trailing "/" except the root

    friend bool operator==(const FileSystemPath&, const FileSystemPath&) = default;
};

// The file system path of an absolute path that holds no link, "." or "..": the
// mount that shows it is found as the system finds it, from the root mount down,
// entering at each step the mount whose point comes first along the path (a
// mount hidden by a later one over a folder above it is never entered; of mounts
// stacked on one point, the top one is). Nothing when the table has no root
// mount.
std::optional<FileSystemPath> fileSystemPath(const std::vector<Mount>& mounts,
                                             std::string_view path);

// The mount that shows path (absolute, holding no link, "." or ".."), found as
// fileSystemPath() finds it; nullptr when the table has no root mount.
const Mount* mountShowing(const std::vector<Mount>& mounts, std::string_view path);

// Whether the folder listings of a file system of this type give each folder's
// own inode number, the one a look at it (stat) gives, wherever no mount shows
// something else in its place. Only types known to: not btrfs (a subvolume has
// a device of its own, with no mount), nor overlay, FUSE or network file
// systems, whose listings may give other numbers.
bool listsOwnInodes(std::string_view type);

// True when path is folder or lies inside it, compared by whole names: "/music"
// holds "/music/new" but not "/music2". Both are absolute, without a trailing "/"
// except the root.
bool pathHolds(std::string_view folder, std::string_view path);

}  // namespace kestrom::platform
