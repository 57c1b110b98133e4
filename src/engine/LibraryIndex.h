// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrom::engine {

// Where each file name of the library tree is first found, built while the
// library is scanned, so that matching a work file costs one hash lookup instead
// of one directory lookup per library folder. It answers what a lookup of the
// name in each folder in scan order would answer: the first folder that holds a
// plain file of that name in any letter case or Unicode normalisation (see
// platform::foldName), and the name as stored there.
//
// A library holds a hundred thousand names and more: they are kept in one
// text, each a range of it, and found through one open table, so that the index
// costs a few allocations in all rather than a few for every name.
class LibraryIndex {
public:
    struct Match {
        std::size_t folder;  // index into the scan's folder list
        std::string name;    // as stored on disk
    };

    // Records a plain file of folder `folder`. Folders must be added in scan
    // order, or later than the folder the name was first found in.
    void add(std::size_t folder, std::string_view name);

    // The first folder in scan order holding name, and the stored spelling: the
    // one spelled exactly as name, else the first in byte order.
    std::optional<Match> find(std::string_view name) const;

    std::size_t size() const { return m_slots.size(); }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Range {
        std::size_t offset;
        std::size_t size;
    };
    // One folded name: the first folder that holds it, and the names there
    // that fold alike (a chain through m_spellings).
    struct Slot {
        Range key;
        std::size_t hash;
        std::size_t folder;
        std::size_t spellings;
    };
    struct Spelling {
        Range name;
        std::size_t next;  // kNone at the chain's end
    };

    std::string_view text(Range range) const { return {m_text.data() + range.offset, range.size}; }
    Range store(std::string_view bytes);
    // The table cell that holds the slot of key, or the empty cell where it goes.
    std::size_t cellOf(std::string_view key, std::size_t hash) const;
    void grow();

    std::string m_text;  // every key and every spelling, one after another
    std::vector<Slot> m_slots;
    std::vector<Spelling> m_spellings;
    // Open addressing, a power of two in size, at most half full: a slot's
    // number and part of its hash (see LibraryIndex.cpp), 0 for an empty cell.
    std::vector<std::uint64_t> m_table;
};

}  // namespace kestrom::engine
