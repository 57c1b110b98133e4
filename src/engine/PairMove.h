// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/FileError.h"
#include "platform/FileOps.h"
#include "platform/Posix.h"

// A song and its text companion move into a library folder together, or neither
// does, also when the process is killed or the power fails half-way.
//
// Before anything moves, two hidden files are on disk in the library folder: a
// pair record ".kestrom-<unique>.pair" that names the move, and, when the
// library already holds a companion under the name the work one takes, a second
// name for that file, ".kestrom-<unique>.aside" (a copy where the file system
// has no hard links), which keeps it while the work one replaces it. Then the
// companion moves (or is copied, for a work file that shares it with one still
// to come), then the MP3 file, and then the aside link and the record go. A
// step that fails undoes the ones before it.
//
// A record that a killed run left behind is settled by the next run before it
// lists the work folder. When the MP3 file has arrived in the library (it has
// left the work folder, or the library holds its bytes: a copy across file
// systems whose deletion was still to come), the pair is finished: what is left
// of it in the work folder goes. Otherwise it is undone: the companion goes
// back to the work folder and the aside link back over the library's
// companion. Both are safe to repeat, so a crash during the settling only means
// settling again.
namespace kestrom::engine {

// What a pair move does. Names are as stored on disk, or as the files will be
// called where they are new.
struct PairMove {
    std::string workFolder;  // absolute, ending in "/": a later run may start elsewhere
    std::string companionWork, companionLibrary;
    std::string mp3Work, mp3Library;
    // Another work file still to come shares the companion: it is copied, not moved.
    bool copyCompanion = false;
    // The library holds a companion under companionLibrary, which the new one replaces.
    bool replacesCompanion = false;
};

// A pair move made ready in a library folder: its record is written and the
// library's companion linked aside, neither of them synced yet. Many pairs
// can be made ready and then put on disk with one flush of their file system
// (Posix::flushFiles over their fd()), before any of them moves. One that is
// destroyed without being carried out removes its hidden files: nothing moved.
class PreparedPair {
public:
    // Makes move into folder (ending in "/") ready. Nothing, or the failure; out
    // is then empty and nothing is left behind.
    static std::optional<platform::FileError> prepare(platform::Posix& posix,
                                                      const std::string& folder,
                                                      const PairMove& move,
                                                      std::optional<PreparedPair>& out);
    PreparedPair(PreparedPair&& other) noexcept;
    PreparedPair& operator=(PreparedPair&&) = delete;
    ~PreparedPair();

    // The record's descriptor.
    int fd() const { return m_fd.get(); }
    // Moves the pair, once the record and the aside link are on disk: as
    // movePair() says. Once only.
    std::optional<platform::FileError> carryOut();

private:
    PreparedPair(platform::Posix& posix, std::string folder, PairMove move, std::uint64_t oldMp3,
                 std::string path, std::string aside, platform::Fd fd);

    platform::Posix* m_posix;
    std::string m_folder;
    PairMove m_move;
    std::uint64_t m_oldMp3;  // the inode of the library MP3 file the pair replaces, 0 for none
    std::string m_path, m_aside;
    platform::Fd m_fd;
    bool m_done = false;  // carried out, or moved from
};

// Moves the pair into folder (ending in "/"), its record synced on its own.
// Nothing, or the failure of the first step that failed; the library's files and the work folder's
// are then as they were before. (A move across file systems whose MP3 file has arrived but could
// not be deleted from the work folder is finished instead, when a second try at the deletion
// succeeds.) When even the undo fails, the record stays for the next run to settle.
std::optional<platform::FileError> movePair(platform::Posix& posix, const std::string& folder,
                                            const PairMove& move);

// Cleans up one hidden file that a run which no longer lives left in folder
// (ending in "/"): a pair record is settled as above and removed with its aside
// link; an aside link without a record is removed (nothing had moved yet, or
// the pair was done); every other kind goes to platform::cleanUpLeftover. A
// record that a living run holds is left alone. Nothing, or the failure (the
// file then stays).
std::optional<platform::FileError> settleLeftover(platform::Posix& posix, const std::string& folder,
                                                  const std::string& name);

}  // namespace kestrom::engine
