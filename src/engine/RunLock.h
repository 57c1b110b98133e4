// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/FileOps.h"
#include "platform/Posix.h"

namespace kestrom::engine {

// Keeps two runs of the program out of each other's folders. A run holds its
// library and work folders exclusively and every folder above them shared, so a
// second run over the same folders, over a folder inside them or over a folder
// that holds them, is refused, while runs over separate folders go on side by
// side. The locks are the system's advisory locks on the folders themselves:
// they go with the process, so a killed run leaves none behind.
class RunLock {
public:
    // Takes the locks for the two folders (existing folders, as the run names
    // them). Nothing, or the folder text that another run holds. A file system
    // without locks is run on without them.
    std::optional<std::string> acquire(platform::Posix& posix, const std::string& library,
                                       const std::string& work);

private:
    std::vector<platform::Fd> m_held;
};

}  // namespace kestrom::engine
