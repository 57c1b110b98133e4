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

    for (const std::string& target : inventory.TargetNames) {
        const std::string companion = companionOf(target);
        const auto it = plainFiles.find(platform::foldName(companion));
        if (it == plainFiles.end()) {
            inventory.CompanionTexts.emplace_back();
            continue;
        }
        inventory.CompanionTexts.push_back(*platform::pickSpelling(it->second, companion));
    }
    return inventory;
}

}  // namespace kestrom::engine
