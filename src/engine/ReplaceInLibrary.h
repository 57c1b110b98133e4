// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

#include "engine/RunState.h"
#include "engine/TagTransfer.h"
#include "platform/DirLookup.h"
#include "platform/FileOps.h"

namespace kestrom::engine {

// Moves tagged work file i into the library folder of its match, with its text
// companion. The steps run in order and the first failure ends them:
//   1. look for the library target (the work file's name in the match's folder,
//      any letter case);
//   2. if it is there, clear its read-only state;
//   3. copy the work file over it, keeping the name as stored, or create it under
//      the work file's name (atomically: a failed copy leaves the old file whole);
//   4. delete the work file;
//   5. copy the companion into the same folder (an ordinary file's companion under
//      its own name, a karaoke file's as the karaoke copy's own text, Song_K.txt)
//      and delete it from the work folder once every work file that shares it
//      (Song.mp3 and Song_K.mp3 share Song.txt) has copied it.
// MP3 files added to the library are entered into the run's name index, so that
// later work files find them.
class LibraryReplacer {
public:
    LibraryReplacer(RunState& state, const platform::FileOps& files, platform::DirLookup& lookup);

    // Returns the message for a failed step, "<matched library file>:(<number>)<description>",
    // or nothing when every step succeeded.
    std::optional<std::string> replace(std::size_t i, const Transfer& transfer);

private:
    std::optional<platform::FileError> moveFiles(std::size_t i, const Transfer& transfer);
    std::optional<platform::FileError> moveCompanion(std::size_t i, const std::string& folder);
    std::optional<platform::FileError> storedName(const std::string& folder,
                                                  const std::string& name, std::string& stored);

    RunState& m_state;
    const platform::FileOps& m_files;
    platform::DirLookup& m_lookup;
    // Companion name -> work files that share it and have not copied it yet.
    std::unordered_map<std::string, int> m_companionUsers;
};

}  // namespace kestrom::engine
