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
// record is on disk beside the file: a hidden file ".kestrom-<inode>.undo" that
// holds the old bytes of every region and the old length. It is removed once the
// changed file is on disk. A record that a crash left behind is rolled back (the
// old bytes written again) before anything else touches that file, so the file
// is then as it was before the interrupted change.
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
class FileChange {
public:
    // What a file is opened for. Check: only the checks that come before a
    // change (opened for writing and locked as for it, its folder opened); no
    // undo record is made, and one that a crash left is neither rolled back nor
    // removed. A file opened to check is never written: writeInPlace and rewrite
    // fail with EBADF and leave it alone.
    enum class Purpose { Change, Check };

    // Opens the file at path. EINVAL: no plain file; EACCES: read-only (owner
    // write permission clear); EBUSY: another process is changing it.
    static int open(Posix& posix, const std::string& path, std::optional<FileChange>& out,
                    Purpose purpose = Purpose::Change);
    FileChange(FileChange&& other) noexcept;
    FileChange& operator=(FileChange&&) = delete;
    ~FileChange();

    int fd() const { return m_fd.get(); }
    const struct stat& status() const { return m_status; }
    // The file's own path (where a link led) and its folder, with the "/".
    const std::string& path() const { return m_path; }
    const std::string& folder() const { return m_folder; }

    // Writes the patches in place and sets the length to newLength, under an
    // undo record; the new content is on disk when it returns, the record's
    // removal once the folder is synced. On failure the file is as it was (or, if
    // even the undo fails, the record stays for the next open to roll back).
    // EBUSY: the file changed since it was opened, and nothing was written.
    int writeInPlace(std::span<const Patch> patches, off_t newLength);

    // Replaces the file with head, then its own bytes from..to, then tail: made
    // in a hidden copy that takes the file's mode and owner and is renamed over
    // it. EBUSY: the file changed or was replaced since it was opened, and it is
    // left as it is.
    int rewrite(std::string_view head, off_t from, off_t to, std::string_view tail);

private:
    FileChange(Posix& posix, Fd fd, std::string path);
    int lockAndRecover();
    // 0 when the file has kept its size and time since it was opened, else
    // EBUSY, or the errno of a failed look.
    int checkUnchanged();
    int undo(std::span<const Patch> patches);

    Posix* m_posix;
    Fd m_fd;
    std::string m_path;
    std::string m_folder;
    struct stat m_status {};
    Fd m_folderFd;
    bool m_checkOnly = false;  // opened to check: never written
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
// (ending in "/"), a temporary file or an undo record, is removed, a record after
// its file has been rolled back. A file that a living process holds is left
// alone. 0, or the errno of a failure (the leftover then stays).
int cleanUpLeftover(Posix& posix, const std::string& folder, const std::string& name);

}  // namespace kestrom::platform
