// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrom::engine {

// Where each file name of the library tree is first found, built while the
// library is scanned, so that matching a work file costs one hash lookup instead
// of one directory lookup per library folder. It answers what a lookup of the
// name in each folder in scan order would answer: the first folder that holds a
// plain file of that name in any letter case or Unicode normalisation (see
// platform::foldName), and the name as stored there.
class LibraryIndex {
public:
    struct Match {
        std::size_t folder;  // index into the scan's folder list
        std::string name;    // as stored on disk
    };

    // Records a plain file of folder `folder`. Folders must be added in scan
    // order, or later than the folder the name was first found in.
    void add(std::size_t folder, const std::string& name);

    // The first folder in scan order holding name, and the stored spelling: the
    // one spelled exactly as name, else the first in byte order.
    std::optional<Match> find(std::string_view name) const;

    std::size_t size() const { return m_slots.size(); }

private:
    struct Slot {
        std::size_t folder;
        std::vector<std::string> spellings;  // names in that folder that fold alike
    };
    std::unordered_map<std::string, Slot> m_slots;  // key: the folded name, as UTF-8
};

}  // namespace kestrom::engine
