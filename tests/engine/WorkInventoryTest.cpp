// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/WorkInventory.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;
using kestrom::platform::DirLookup;

// A karaoke copy ends in "_K.mp3" in any letter case and searches for its name
// without the "_K"; hidden files and folders are left out.
TEST(WorkInventory, ListsMp3FilesWithSearchNamesAndCompanions) {
    TempDir dir;
    writeTree(dir.path(),
              "Song_K.mp3: Song.mp3: SONG.TXT: Other_k.MP3: _K.mp3: .txt: Song_K2.mp3: a.mp3: "
              "notes.txt: .hidden.mp3: folder.mp3/x: 曲_K.mp3: Song-K.mp3: K.mp3:");
    kestrom::platform::Posix posix;
    DirLookup lookup(posix);
    const WorkInventory inv = listWorkFolder(dir.path(), lookup);
    // In the fixed order of the upper-cased names: "_" (0x5F) comes after the letters.
    EXPECT_EQ(inv.TargetNames,
              (std::vector<std::string>{"a.mp3", "K.mp3", "Other.mp3", "Song-K.mp3", "Song.mp3",
                                        "Song.mp3", "Song_K2.mp3", ".mp3", "曲.mp3"}));
    EXPECT_EQ(inv.KaraokeNames, (std::vector<std::string>{"", "", "Other_k.MP3", "", "",
                                                          "Song_K.mp3", "", "_K.mp3", "曲_K.mp3"}));
    // .txt is hidden, so _K.mp3 has no companion; Song and Song_K share SONG.TXT as stored.
    EXPECT_EQ(inv.CompanionTexts,
              (std::vector<std::string>{"", "", "", "", "SONG.TXT", "SONG.TXT", "", "", ""}));
}
