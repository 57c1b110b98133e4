// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/DirLookup.h"
#include "platform/FileChange.h"

namespace kestrom::engine {

// The MP3 files of the work folder (top level only), in lookup order. Entry i of
// each table belongs to the i-th file.
struct WorkInventory {
    // The name searched in the library: the file's name, or for a karaoke file
    // (Song_K.mp3, Song_k.MP3) the name without the suffix and with ".mp3".
    std::vector<std::string> TargetNames;
    // The file's actual name when it carries the karaoke suffix, else "".
    std::vector<std::string> KaraokeNames;
    // The stored name of the text companion (the name with "txt" for "mp3", in
    // any letter case or Unicode normalisation) when the work folder holds one,
    // else "": for a karaoke file its own (Song_K.txt) where there is one, else
    // that of the search name (Song.txt).
    std::vector<std::string> CompanionTexts;
    // For a work file that is a symbolic link leading nowhere: the errno of
    // following it; else 0. Such a file is listed so that the run can count it NG
    // with its reason rather than pass over it in silence; it is never read,
    // written or moved.
    std::vector<int> linkErrors;

    // Hidden files that a killed run may have left in the work folder.
    std::vector<platform::Leftover> leftovers;
    // The errno when the work folder could not be listed (nothing is listed then), else 0.
    int error = 0;

    std::size_t FileCount() const { return TargetNames.size(); }
    // The work file's name on disk: the karaoke name, else the search name.
    const std::string& workName(std::size_t i) const {
        return KaraokeNames[i].empty() ? TargetNames[i] : KaraokeNames[i];
    }
};

// The name of an MP3 file's text companion: the name with "txt" for its last
// three characters (".mp3" in any letter case).
std::string companionOf(std::string_view mp3Name);

// True when name carries the karaoke suffix: "_K" or "_k" just before its last
// four characters. A name of five characters or fewer carries none.
bool hasKaraokeSuffix(std::string_view name);

// Lists the plain files of workText whose names end in ".mp3" in any letter case,
// links of such names that lead nowhere, and the companions (plain files only).
// Hidden files are not listed, nor links to folders or to anything but a file.
WorkInventory listWorkFolder(const std::string& workText, platform::DirLookup& lookup);

}  // namespace kestrom::engine
