// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Posix.h"

// The folder picker's drive list on a desktop without drive letters: the places
// a user starts browsing from. Paths are file-name bytes, absolute, without a
// trailing "/" except the root.
namespace kestrom::platform {

// The drives that a mount table (the text of /proc/self/mountinfo) and the
// user's home folder give, in this order: the root "/", the home folder (listed
// whether or not it is a mount point; left out when it is not an absolute path
// or is the root), then the mounted removable media and manual mounts at or
// below /media, /mnt and /run/media, sorted by path. Pseudo file systems (proc,
// sysfs, tmpfs, cgroup, autofs placeholders...) are never listed, and a mount
// point appears once however often it is mounted over. Malformed lines are
// skipped.
std::vector<std::string> drivesFromMountInfo(std::string_view mountInfo, std::string_view home);

// drivesFromMountInfo() over this process's mount table. When the table cannot
// be read the list holds the root and the home folder only. On Windows: the
// roots of the drive letters in use ("C:/", "D:/").
std::vector<std::string> systemDrives(Posix& posix, std::string_view home);

// The index of the drive a path belongs to: the listed drive that is the path
// itself or its longest ancestor, compared by whole path components ("/home/u"
// holds "/home/u/x" but not "/home/user"). Nothing when the path is not
// absolute or no drive holds it. The path is taken as it stands: callers clean
// up "." and ".." and doubled slashes first.
std::optional<std::size_t> driveOf(const std::vector<std::string>& drives, std::string_view path);

}  // namespace kestrom::platform
