// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LibraryIndex.h"

#include "platform/DirLookup.h"
#include "platform/Text.h"

namespace kestrom::engine {
namespace {

std::string keyOf(std::string_view name) {
    return platform::toUtf8(platform::foldName(name));
}

}  // namespace

void LibraryIndex::add(std::size_t folder, const std::string& name) {
    auto [it, inserted] = m_slots.try_emplace(keyOf(name), Slot{folder, {}});
    Slot& slot = it->second;
    if (folder < slot.folder) {  // a file that appeared in an earlier folder wins from now on
        slot.folder = folder;
        slot.spellings.clear();
    }
    if (folder == slot.folder) {
        for (const std::string& s : slot.spellings)
            if (s == name) return;
        slot.spellings.push_back(name);
    }
}

std::optional<LibraryIndex::Match> LibraryIndex::find(std::string_view name) const {
    const auto it = m_slots.find(keyOf(name));
    if (it == m_slots.end()) return std::nullopt;
    return Match{it->second.folder, *platform::pickSpelling(it->second.spellings, name)};
}

}  // namespace kestrom::engine
