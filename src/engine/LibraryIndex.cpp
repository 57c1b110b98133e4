// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LibraryIndex.h"

#include <cstdint>
#include <functional>

#include "platform/Text.h"

namespace kestrom::engine {
namespace {

std::string keyOf(std::string_view name) {
    return platform::foldNameUtf8(name);
}

// A table cell: the slot's number plus one in the low half, the high half of
// its hash in the high one, so that most probes pass a cell without reading
// its slot.
constexpr std::uint64_t cellFor(std::size_t slot, std::size_t hash) {
    return (static_cast<std::uint64_t>(hash) & 0xFFFFFFFF00000000U) | (slot + 1);
}
constexpr bool sameTag(std::uint64_t cell, std::size_t hash) {
    return ((cell ^ static_cast<std::uint64_t>(hash)) & 0xFFFFFFFF00000000U) == 0;
}
constexpr std::size_t slotOf(std::uint64_t cell) {
    return static_cast<std::size_t>(cell & 0xFFFFFFFFU) - 1;
}

}  // namespace

LibraryIndex::Range LibraryIndex::store(std::string_view bytes) {
    const Range range{m_text.size(), bytes.size()};
    m_text.append(bytes);
    return range;
}

std::size_t LibraryIndex::cellOf(std::string_view key, std::size_t hash) const {
    const std::size_t mask = m_table.size() - 1;
    for (std::size_t cell = hash & mask;; cell = (cell + 1) & mask) {
        const std::uint64_t entry = m_table[cell];
        if (entry == 0) return cell;
        if (!sameTag(entry, hash)) continue;
        const Slot& slot = m_slots[slotOf(entry)];
        if (slot.hash == hash && text(slot.key) == key) return cell;
    }
}

void LibraryIndex::grow() {
    m_table.assign(m_table.empty() ? 1024 : m_table.size() * 2, 0);
    const std::size_t mask = m_table.size() - 1;
    for (std::size_t i = 0; i < m_slots.size(); ++i) {
        std::size_t cell = m_slots[i].hash & mask;
        while (m_table[cell] != 0) cell = (cell + 1) & mask;
        m_table[cell] = cellFor(i, m_slots[i].hash);
    }
}

void LibraryIndex::add(std::size_t folder, std::string_view name) {
    if (2 * (m_slots.size() + 1) > m_table.size()) grow();
    const std::string key = keyOf(name);
    const std::size_t hash = std::hash<std::string_view>{}(key);
    const std::size_t cell = cellOf(key, hash);
    if (m_table[cell] == 0) {
        m_spellings.push_back({store(name), kNone});
        m_slots.push_back({store(key), hash, folder, m_spellings.size() - 1});
        m_table[cell] = cellFor(m_slots.size() - 1, hash);
        return;
    }
    Slot& slot = m_slots[slotOf(m_table[cell])];
    if (folder < slot.folder) {  // a file that appeared in an earlier folder wins from now on
        slot.folder = folder;
        slot.spellings = kNone;
    }
    if (folder != slot.folder) return;
    for (std::size_t s = slot.spellings; s != kNone; s = m_spellings[s].next)
        if (text(m_spellings[s].name) == name) return;
    m_spellings.push_back({store(name), slot.spellings});
    slot.spellings = m_spellings.size() - 1;
}

std::optional<LibraryIndex::Match> LibraryIndex::find(std::string_view name) const {
    if (m_table.empty()) return std::nullopt;
    const std::string key = keyOf(name);
    const std::uint64_t entry = m_table[cellOf(key, std::hash<std::string_view>{}(key))];
    if (entry == 0) return std::nullopt;
    const Slot& slot = m_slots[slotOf(entry)];
    // The spelling exactly as asked for, else the first in byte order.
    std::string_view best;
    for (std::size_t s = slot.spellings; s != kNone; s = m_spellings[s].next) {
        const std::string_view spelling = text(m_spellings[s].name);
        if (spelling == name) return Match{slot.folder, std::string(spelling)};
        if (best.data() == nullptr || spelling < best) best = spelling;
    }
    return Match{slot.folder, std::string(best)};
}

}  // namespace kestrom::engine
