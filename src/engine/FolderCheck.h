// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/DirLookup.h"

namespace kestrom::engine {

inline constexpr std::string_view kOverlapMessage = "指定パスの範囲が重複しています。";
inline constexpr std::string_view kMissingFolderSuffix = "なんてフォルダはないよ";

// Refuses two folder texts that cannot be used together: overlapping texts (one
// is a prefix of the other, compared character by character and case-sensitively,
// so an empty text overlaps everything), then a library or work text that names
// no folder. A text names a folder when the lookup finds it as a directory that
// is not hidden; a plain file or a text with a wildcard does not.
// Returns the message to show, or nothing when both folders pass.
std::optional<std::string> checkFolders(std::string_view libraryText, std::string_view workText,
                                        platform::DirLookup& lookup);

}  // namespace kestrom::engine
