// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <set>
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
//   3. move the companion into the same folder (an ordinary file's companion
//      under its own name, a karaoke file's as the karaoke copy's own text,
//      Song_K.txt); a companion that Song.mp3 and Song_K.mp3 share is copied for
//      its first user and moved for its last;
//   4. move the work file over the target, keeping the name as stored, or under
//      its own name: one rename within a file system, else an atomic copy and
//      a deletion; the moved file takes the target's mode and owner.
// The work file leaves the work folder last, so that a run stopped between the
// steps leaves it, still tagged, for the next run to move. MP3 files added to
// the library are entered into the run's name index, so that later work files
// find them. The renames reach the disk when syncChangedFolders() runs.
class LibraryReplacer {
public:
    // Not owned: state, posix and lookup, which must outlive the replacer.
    LibraryReplacer(RunState& state, platform::Posix& posix, platform::DirLookup& lookup);

    // Returns the message for a failed step, "<matched library file>:(<number>)<description>",
    // or nothing when every step succeeded.
    std::optional<std::string> replace(std::size_t i, const Transfer& transfer);

    // Makes the moves so far durable: one sync of every folder they changed.
    void syncChangedFolders();

private:
    std::optional<platform::FileError> moveFiles(std::size_t i, const Transfer& transfer);
    std::optional<platform::FileError> moveCompanion(std::size_t i, const std::string& folder);
    std::optional<platform::FileError> storedName(const std::string& folder,
                                                  const std::string& name, std::string& stored);

    RunState& m_state;
    platform::Posix& m_posix;
    platform::FileOps m_files;
    platform::DirLookup& m_lookup;
    // Companion name -> work files that share it and have not copied it yet.
    std::unordered_map<std::string, int> m_companionUsers;
    std::set<std::string> m_changedFolders;
};

}  // namespace kestrom::engine
