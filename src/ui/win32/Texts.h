// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/Texts.h"

// The Win32 windows' own texts, in their two languages; the same words as the
// Qt windows' translations give.
namespace kestrom::ui::win32::texts {

inline constexpr platform::Text kBrowse{"参照", "…"};
inline constexpr platform::Text kExecute{"実行", "Run"};
inline constexpr platform::Text kQuit{"終了", "Exit"};
inline constexpr platform::Text kReplace{"タグをコピー後、ＭＰ３データをコピー元と置き換える",
                                         "After tagging, replace the source's MP3 files"};
inline constexpr platform::Text kSource{"コピー元", "Source"};
inline constexpr platform::Text kTarget{"コピー先", "Target"};
inline constexpr platform::Text kTeam{"Kestrom 開発チーム", "Kestrom team"};
inline constexpr platform::Text kLibraryTeam{"VBMP3.dll Kestrom 開発チーム",
                                             "VBMP3.dll Kestrom team"};
inline constexpr platform::Text kChooseFolder{"フォルダ選択", "Choose a Folder"};
inline constexpr platform::Text kCancel{"ｷｬﾝｾﾙ", "Cancel"};
inline constexpr platform::Text kCannotOpen{"%1 を開けません。", "Cannot open %1."};
inline constexpr platform::Text kCannotRead{"%1 を読み取れません。", "Cannot read %1."};

}  // namespace kestrom::ui::win32::texts
