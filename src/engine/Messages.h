// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "binding/Vbmp3.h"
#include "platform/Texts.h"

// The messages of a run, in their two languages (see platform::Text). The
// Japanese ones are the program's own texts; the windows and kestrom-cli show
// each in the user's language. %1 is a folder or file name, %2 a failure as
// platform::numbered() gives it.
namespace kestrom::engine::texts {

inline constexpr platform::Text kOverlap{"指定パスの範囲が重複しています。",
                                         "The two folders overlap."};
inline constexpr platform::Text kMissingFolder{"%1なんてフォルダはないよ", "There is no folder %1"};
inline constexpr platform::Text kNoData{"データね～じゃん(-_-ﾒ)",
                                        "The work folder holds no MP3 file."};
inline constexpr platform::Text kFolderInUse{"%1 は別の Kestrom が使用中です",
                                             "%1 is in use by another Kestrom run"};
inline constexpr platform::Text kUnreadableFolder{"%1のフォルダを読めません:%2",
                                                  "Cannot read the folder %1:%2"};
inline constexpr platform::Text kUnsyncedFolder{
    "%1のフォルダの変更をディスクに書き込めません:%2",
    "Cannot write the changes in the folder %1 to the disk:%2"};
inline constexpr platform::Text kUnwritableFolder{
    "%1のフォルダに書き込めないため、このフォルダのファイルは処理できません:%2",
    "The folder %1 cannot be written, so its files cannot be done:%2"};
inline constexpr platform::Text kTagLibraryUnusable{"タグライブラリを使えません（%1）",
                                                    "Cannot use the tag library (%1)"};
inline constexpr platform::Text kStopped{"処理を中断しました。\n%1", "The run stopped.\n%1"};

// Every text above, for the tests of the catalogues.
inline std::vector<platform::Text> all() {
    return {kOverlap,           kMissingFolder,       kNoData,           kFolderInUse,
            kUnreadableFolder,  kUnsyncedFolder,      kUnwritableFolder, kTagLibraryUnusable,
            binding::kNotFound, binding::kCannotLoad, kStopped};
}

}  // namespace kestrom::engine::texts
