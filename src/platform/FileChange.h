// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/FileOps.h"
#include "platform/Posix.h"

// Changing a file so that a crash or a power loss at any moment leaves it with
// its old or its new content, whole, and never costs more than the change.
//
// A change that fits is made in place. Before the first byte changes, an undo
// record is on disk beside the file (in the folder of the file's own path, a
// link followed): a hidden file ".kestrom-<inode>.undo" that holds the file's
// device, inode and name, its old and new length, and the old and the new bytes
// of every region. It is removed once the changed file is on disk. A record
// that a crash left behind is rolled back (the old bytes written again, the old
// length restored) before anything else touches that file, so the file is then
// as it was before the interrupted change.
//
// The record belongs to the file, not to its name. A file is the record's when
// it has the recorded device and inode, a length that the interrupted change
// can have left (from the shorter of the old and the new length to the longer,
// or to the end of the new bytes), and in every region only bytes that it can
// have left there: old or new ones, or zeros where the file had no byte before.
// A file that took over the inode number of a removed one, or that another
// program changed since, is not the record's, and is never "rolled back" into
// a mix of two files. The next run finds the file:
//   - when it opens the file by any name in the record's folder (its own, a
//     new one after a rename, another hard link): the record is the one named
//     after the file's inode there;
//   - when it cleans up the leftovers of a folder it lists (cleanUpLeftover):
//     under the recorded name, else among the folder's plain files by device
//     and inode (a rename within the folder, a hard link made there).
// It cannot find a file that left the record's folder (moved elsewhere, or
// reached only through a hard link in another folder) or that is no longer the
// record's: such a record is never removed. The clean-up keeps it and reports
// it (ENOENT), at every run, until the file is back in its folder, whereupon it
// is rolled back, or a person removes the record. A complete record of another
// version is kept and reported (EPROTO) as well. Only a record cut short by a
// crash goes silently: its hash fails, so it was never complete on disk and the
// file was never touched.
//
// A change that does not fit makes the new file as a hidden temporary copy
// beside the old one and renames it over it (see PendingFile).
namespace kestrom::platform {

// The undo record's name for the file with this inode.
std::string undoRecordName(ino_t inode);

// A region of a file to be overwritten: new bytes at offset, and the file's
// current bytes there (those inside its current length).
struct Patch {
    off_t offset = 0;
    std::string_view bytes;
    std::string_view old;
};

// A plain file opened for a safe change, for as long as the object lives: a link
// is followed to the file itself, the file is locked against the other writers
// of this program, and a change that a crash left unfinished has been rolled
// back. Errors are errno values.
//
// One object makes one change. Its state:
//   Open      opened to change: writeInPlace or rewrite may be called, once
//   Check     opened to check (Purpose::Check): never written
//   Changed   writeInPlace succeeded: the file holds its new content
//   Replaced  rewrite succeeded: the name leads to a new file, fd() to the old
//   Failed    writeInPlace or rewrite failed: the file is as it was (or its undo
//             record stays for the next open to roll back)
// (Replaced also follows a rewrite whose last step, the folder's sync, failed.)
// Only Open leads on, to Changed, Replaced or Failed. writeInPlace and rewrite
// in any other state fail with EBADF and touch nothing: a second change would
// start from what the object saw when it opened the file, which no longer holds.
class FileChange {
public:
    // What a file is opened for. Check: only the checks that come before a
    // change (opened for writing and locked as for it, its folder opened); no
    // undo record is made, and one that a crash left is neither rolled back nor
    // removed.
    enum class Purpose { Change, Check };
    enum class State { Open, Check, Changed, Replaced, Failed };

    // Opens the file at path. EINVAL: no plain file; EACCES: read-only (owner
    // write permission clear); EBUSY: another process is changing it. An undo
    // record beside it that is not this file's (see above) is left alone.
    static int open(Posix& posix, const std::string& path, std::optional<FileChange>& out,
                    Purpose purpose = Purpose::Change);
    FileChange(FileChange&& other) noexcept;
    FileChange& operator=(FileChange&&) = delete;
    ~FileChange();

    int fd() const { return m_fd.get(); }
    const struct stat& status() const { return m_status; }
    State state() const { return m_state; }
    // The file's own path (where a link led) and its folder, with the "/".
    const std::string& path() const { return m_path; }
    const std::string& folder() const { return m_folder; }

    // Writes the patches in place and sets the length to newLength, under an
    // undo record; the new content is on disk when it returns, the record's
    // removal once the folder is synced. On failure the file is as it was (or, if
    // even the undo fails, the record stays for the next open to roll back).
    // EBUSY: the file changed since it was opened (or a record that is not its
    // own takes the name of its record), and nothing was written.
    int writeInPlace(std::span<const Patch> patches, off_t newLength);

    // Replaces the file with head, then its own bytes from..to, then tail: made
    // in a hidden copy that takes the file's mode and owner and is renamed over
    // it. EBUSY: the file changed or was replaced since it was opened, and it is
    // left as it is. A failed sync of the folder after the rename (see
    // PendingFile::commit) is returned with the state Replaced.
    int rewrite(std::string_view head, off_t from, off_t to, std::string_view tail);

private:
    FileChange(Posix& posix, Fd fd, std::string path);
    int lockAndRecover();
    // 0 when the file has kept its size and time since it was opened, else
    // EBUSY, or the errno of a failed look.
    int checkUnchanged();
    int change(std::span<const Patch> patches, off_t newLength);
    int replace(std::string_view head, off_t from, off_t to, std::string_view tail, bool& replaced);
    int undo(std::span<const Patch> patches);

    Posix* m_posix;
    Fd m_fd;
    std::string m_path;
    std::string m_folder;
    struct stat m_status {};
    Fd m_folderFd;
    State m_state = State::Open;
    Fd m_record;               // made by writeInPlace, just before the first byte changes
    std::string m_recordPath;  // "" once the record is gone, or when it must stay
};

// Opens a plain file for reading, after a change that a crash left unfinished
// in it has been rolled back. EINVAL: no plain file. 0 or errno.
int openForReading(Posix& posix, const std::string& path, Fd& out, struct stat& status);

// A hidden file of this program found in a folder (ending in "/").
struct Leftover {
    std::string folder;
    std::string name;
};

// Cleans up after a process that no longer runs: the hidden file name in folder
// (ending in "/"), a temporary file or an undo record. A temporary file is
// removed. An undo record's file is looked for in folder as the comment at the
// top says, rolled back, and the record removed; a record cut short is removed.
// A file that a living process holds is left alone, with its record. 0, or the
// errno of a failure, the leftover then staying: ENOENT for a record whose file
// is not found, EPROTO for a record of another version.
int cleanUpLeftover(Posix& posix, const std::string& folder, const std::string& name);

}  // namespace kestrom::platform
