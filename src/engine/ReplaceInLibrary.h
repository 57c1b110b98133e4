// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/PairMove.h"
#include "engine/RunState.h"
#include "engine/TagTransfer.h"
#include "platform/DirLookup.h"
#include "platform/FileOps.h"

namespace kestrom::engine {

// Moves tagged work file i into the library folder of its match, with its text
// companion. The steps run in order and the first failure ends them:
//   1. look for the library target (the work file's name in the match's folder,
//      any letter case), and for the companion's;
//   2. if the target is there, clear its read-only state;
//   3. move the work file over the target, keeping the name as stored, or under
//      its own name: one rename within a file system, else an atomic copy and
//      a deletion; the moved file takes the target's mode and owner.
// A file with a companion moves in step 3 as a pair (see PairMove.h): the
// companion first, into the same folder (under the name of a companion the
// library holds for the file, else under the MP3 file's name as it arrives
// there with "txt" for "mp3": upper.txt beside upper.mp3, Song_K.txt beside a
// karaoke copy), then the work file; a failure of either puts back what the
// pair had changed, and a run stopped half-way is finished or undone by the
// next one. A companion that Song.mp3 and Song_K.mp3 share is copied for its
// first user and moved for its last. MP3 files added to the library are
// entered into the run's name index, so that later work files find them. The moves reach the disk
// when syncChangedFolders() runs: one flush of each file system that a move changed.
//
// No file is moved over a library file that another work file of the run has
// put there: on Linux SONG.mp3 and song.mp3 can both wait in the work folder and
// both match Song.mp3, and the second would destroy the first. Such a move fails
// at its first step, as if the file existed (58).
class LibraryReplacer {
public:
    // Not owned: state, posix, lookup and language, which must outlive the
    // replacer; the messages are in language.
    LibraryReplacer(RunState& state, platform::Posix& posix, platform::DirLookup& lookup,
                    const platform::Language& language = platform::japanese());

    // Returns the message for a failed step, "<matched library file>:(<number>)<description>",
    // or nothing when every step succeeded.
    std::optional<std::string> replace(std::size_t i, const Transfer& transfer);
    // Moves a batch's tagged work files, transfers[k] being work file first + k's
    // (those that are not Ok stay): the records of all its pairs are made and
    // put on disk with one flush of each file system, then the files move in
    // order, each as replace() moves it. A file whose place in the library an
    // earlier file of the batch takes (SONG.mp3 and song.mp3) moves after the
    // others, as replace() would move it then. messages[k]: as replace() returns.
    std::vector<std::optional<std::string>> replaceBatch(std::size_t first,
                                                         std::span<const Transfer> transfers);
    // For a dry run, which moves nothing: the message replace() would give for a
    // move that another work file's place refuses, or nothing; the places are
    // taken as replace() takes them.
    std::optional<std::string> plan(std::size_t i, const Transfer& transfer);

    // Makes the run's changes so far durable: one sync of the work folder (the
    // files moved out of it) and of every folder a move changed. The tag writes
    // are on disk already, batch by batch.
    // Returns the message for each folder whose sync failed,
    // "<folder>のフォルダの変更をディスクに書き込めません:(<number>)<description>".
    std::vector<std::string> syncChangedFolders();

private:
    // A move worked out: where to, under which names, and the pair's record
    // made ready when it goes in a batch.
    struct Move {
        std::string folder, targetName;
        std::string companion, companionName;  // the companion in the work folder, and its target
        std::optional<PairMove> pair;          // with a companion
        std::optional<PreparedPair> prepared;
        std::optional<platform::FileError> failed;
    };
    std::optional<platform::FileError> moveFiles(std::size_t i, const Transfer& transfer);
    // Steps 1 and 2, and the names the move takes. Nothing, or the failure.
    std::optional<platform::FileError> planMove(std::size_t i, const Transfer& transfer,
                                                Move& move);
    // Step 3, with the record made ready when there is one.
    std::optional<platform::FileError> carryOut(std::size_t i, const Transfer& transfer,
                                                Move& move);
    std::optional<platform::FileError> storedName(const std::string& folder,
                                                  const std::string& name, std::string& stored);
    std::string failure(const Transfer& transfer, const platform::FileError& error) const;
    // The name under which work file i's companion goes into the library, or "".
    std::string companionTarget(std::size_t i) const;
    // Whether this run has put a file under name (in any letter case) into folder.
    bool filled(const std::string& folder, const std::string& name) const;
    void fill(const std::string& folder, const std::string& name);

    RunState& m_state;
    platform::Posix& m_posix;
    platform::FileOps m_files;
    platform::DirLookup& m_lookup;
    const platform::Language& m_language;
    // Companion name -> work files that share it and have not copied it yet.
    std::unordered_map<std::string, int> m_companionUsers;
    std::set<std::string> m_changedFolders;
    // The work folder's absolute path with its "/", for the pair records; found
    // at the first pair.
    std::string m_workFolder;
    // Library places filled by this run: folder and folded name.
    std::set<std::pair<std::string, std::u16string>> m_filled;
};

}  // namespace kestrom::engine
