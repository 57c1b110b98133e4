// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/WorkInventory.h"

#include <unordered_map>

#include "platform/Text.h"

namespace kestrom::engine {

bool hasKaraokeSuffix(std::string_view name) {
    // The last four characters are ".mp3" in some letter case, all ASCII, so the
    // characters before them can be found by bytes.
    if (name.size() < 6) return false;
    const std::string_view suffix = name.substr(name.size() - 6, 2);
    return suffix == "_K" || suffix == "_k";
}

std::string companionOf(std::string_view mp3Name) {
    return std::string(mp3Name.substr(0, mp3Name.size() - 3)) + "txt";
}

WorkInventory listWorkFolder(const std::string& workText, platform::DirLookup& lookup) {
    WorkInventory inventory;
    // One listing serves both passes: the MP3 files, then the companions, which
    // are looked up among the same plain files by their folded names.
    std::unordered_map<std::u16string, std::vector<std::string>> plainFiles;
    std::string name = lookup.first(workText + "/", platform::Filter::PlainOrBrokenLink);
    for (const std::string& hidden : lookup.hiddenNames())
        if (platform::isLeftoverName(hidden))
            inventory.leftovers.push_back({workText + "/", hidden});
    for (; !name.empty(); name = lookup.next()) {
        const bool brokenLink = lookup.current().kind == platform::EntryKind::BrokenLink;
        if (platform::matchesWildcard(name, "*.mp3")) {
            if (hasKaraokeSuffix(name)) {
                inventory.TargetNames.push_back(name.substr(0, name.size() - 6) + ".mp3");
                inventory.KaraokeNames.push_back(name);
            } else {
                inventory.TargetNames.push_back(name);
                inventory.KaraokeNames.emplace_back();
            }
            inventory.linkErrors.push_back(brokenLink ? lookup.current().error : 0);
        }
        if (!brokenLink) plainFiles[platform::foldName(name)].push_back(std::move(name));
    }

    inventory.error = lookup.lastError();

    // A karaoke file takes its own text (Song_K.txt) where there is one, else
    // the one of the name it is searched under (Song.txt).
    for (std::size_t i = 0; i < inventory.TargetNames.size(); ++i) {
        std::string found;
        for (const std::string* mp3 : {&inventory.KaraokeNames[i], &inventory.TargetNames[i]}) {
            if (mp3->empty()) continue;
            const std::string companion = companionOf(*mp3);
            const auto it = plainFiles.find(platform::foldName(companion));
            if (it == plainFiles.end()) continue;
            found = *platform::pickSpelling(it->second, companion);
            break;
        }
        inventory.CompanionTexts.push_back(std::move(found));
    }
    return inventory;
}

}  // namespace kestrom::engine
