// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/DirLookup.h"
#include "platform/Posix.h"
#include "platform/Texts.h"

namespace kestrom::engine {

// Refuses two folder texts that cannot be used together: overlapping folders,
// then a library or work text that names no folder.
//  - The texts overlap when either is empty, or when one folder is the other or
//    lies inside it. They are compared as paths: made absolute, "." and ".." and
//    repeated or trailing separators folded, links resolved where the folder
//    exists, so that sibling folders (music, music2) pass and one folder spelt
//    two ways does not. Existing folders are also compared by identity, so that
//    no alias passes: one folder is the other or one of its parents (device and
//    inode), or both lie in one file system and one's path there holds the
//    other's (through the mount table: a bind mount of a library subfolder as
//    the work folder, or the reverse).
//  - A text names a folder when it is the path of a directory that is not
//    hidden. The text is taken literally: "*" and "?" are characters of a name.
// Returns the message to show, in language, or nothing when both folders pass.
std::optional<std::string> checkFolders(std::string_view libraryText, std::string_view workText,
                                        platform::DirLookup& lookup, platform::Posix& posix,
                                        const platform::Language& language = platform::japanese());

// The text without trailing separators, so that paths formed from it hold no
// doubled one; a text of separators only stays "/".
std::string_view withoutTrailingSeparators(std::string_view text);

}  // namespace kestrom::engine
