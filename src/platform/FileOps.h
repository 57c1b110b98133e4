// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileError.h"
#include "platform/Posix.h"

namespace kestrom::platform {

// The hidden files the program leaves beside a file while it changes it: a
// temporary file that is to replace it (and the folder's journal, see
// Journal.h); and in a library folder while a song and its companion move in,
// the pair's record and the library's own companion linked aside (see
// engine/PairMove.h). All start with ".", so no listing of a run ever shows them.
bool isTemporaryName(std::string_view name);
bool isPairRecordName(std::string_view name);
bool isAsideLinkName(std::string_view name);
// A new hidden name: ".kestrom-", what sets it apart from the names of other
// processes and moments, then suffix. Another attempt gives another name.
std::string hiddenName(std::string_view suffix, unsigned attempt);

// An open descriptor, closed when the object goes.
class Fd {
public:
    Fd() = default;
    Fd(Posix& posix, int fd) : m_posix(&posix), m_fd(fd) {}
    Fd(Fd&& other) noexcept;
    Fd& operator=(Fd&& other) noexcept;
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    void reset();

private:
    Posix* m_posix = nullptr;
    int m_fd = -1;
};

// Writes all of bytes at offset; 0 or the errno of the failure.
int writeAll(Posix& posix, int fd, std::string_view bytes, off_t offset);
// Reads up to count bytes at offset into buffer, fewer only at the end of the
// file; 0 or the errno of the failure.
int readAt(Posix& posix, int fd, std::string& buffer, std::size_t count, off_t offset);
// Copies length bytes of in, from inOffset, to out at outOffset: inside the
// kernel where it can (the bytes never pass through the process), else by
// reads and writes. A file system with shared extents (XFS with reflink, btrfs)
// shares whole blocks instead of copying them, but only blocks that start at a
// block boundary in both files: so when both offsets lie at the same place
// within a block of blockSize (see sharingBlockSize; 0 for no split), the range
// goes in up to three pieces, the unaligned head up to the first boundary and
// the tail after the last one copied byte by byte, and the whole blocks between
// them in calls that start on a boundary. The bytes that arrive are the same
// either way. 0 or the errno of the failure.
int copyRange(Posix& posix, int in, off_t inOffset, int out, off_t outOffset, off_t length,
              off_t blockSize);
// The block by which the file system of a file with this status shares extents
// between files, as far as the status tells: its preferred size of I/O
// (st_blksize), the block on the file systems that share and a multiple of it
// elsewhere, when that is a power of two from 512 bytes to 64 KiB; else 4096.
off_t sharingBlockSize(const struct stat& status);
// Reads the whole file at path into content, to its end (its size may say
// nothing, as for the files of /proc). A file larger than maxBytes is refused
// with EFBIG, so that a wrong path cannot fill the memory. 0 or errno.
int readFile(Posix& posix, const std::string& path, std::size_t maxBytes, std::string& content);
// Makes the renames, creations and removals in a folder durable. 0 or errno.
int syncFolder(Posix& posix, std::string_view folder);
// Puts the files and folders fds on disk with Posix::flushFiles, one call for
// those of each file system (one device flush each on Linux). The result for
// each: 0 or the errno of its file system's flush (or of its fstat).
std::vector<int> flushByFileSystem(Posix& posix, std::span<const int> fds);

// A hidden temporary file beside a target file, holding what the target is to
// become. It replaces the target only through commit(); destroyed without a
// commit it is removed and the target stays exactly as it was. While the
// process lives it holds a lock on the file, so that a later run cleaning up
// after a killed one leaves it alone.
class PendingFile {
public:
    // Creates the file, empty, in folder (ending in "/", or "" for the current
    // folder). 0 or the errno of the failure.
    static int create(Posix& posix, std::string_view folder, std::string target,
                      std::optional<PendingFile>& out);
    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&&) = delete;
    ~PendingFile();

    int fd() const { return m_fd.get(); }
    const std::string& path() const { return m_path; }

    // Gives the new file the mode of model and, with takeOwner and where the
    // process may, its owner: the file it replaces keeps its mode and owner. 0
    // or errno.
    int takeAttributes(const struct stat& model, bool takeOwner);

    // Syncs the new content to disk and renames it over the target in one step,
    // so that a crash leaves either the old or the new file, never a mix; then
    // syncs the folder (folderFd when open, else the folder is opened) so that
    // the rename itself is on disk. 0 or errno. A failure of that last sync
    // comes after the rename: committed() then tells that the target is the
    // new file, whole, which a power loss may still take back.
    int commit(int folderFd = -1);
    // Renames the new file over the target, unsynced: the caller makes the
    // content and the rename durable (see ChangeBatch). 0 or errno.
    int rename();
    bool committed() const { return m_committed; }

private:
    PendingFile(Posix& posix, std::string path, std::string target, int fd);

    Posix* m_posix;
    std::string m_path;
    std::string m_target;
    Fd m_fd;
    bool m_committed = false;
};

// Copy, move, delete and attribute reset with the failure numbers that the
// program reports. Every failure leaves the files as they were, but one of the
// folder's sync after the last rename (see PendingFile::commit): the
// destination is then the new file, and a move keeps its source.
class FileOps {
public:
    explicit FileOps(Posix& posix) : m_posix(posix) {}

    // Clears the read-only state: the owner may write the file afterwards.
    std::optional<FileError> setNormal(const std::string& path) const;

    // Copies from over to, replacing to atomically (see PendingFile). The copy
    // takes the mode and owner of the file it replaces, or the mode of from when
    // to is new. A read-only destination is refused (70), as is a destination
    // that is the source itself reached by another path (kSameFile), which the
    // copy would otherwise turn into a loss once the source is deleted.
    std::optional<FileError> copyReplacing(const std::string& from, const std::string& to) const;

    // Moves from to to, replacing to: one rename when both are on one file
    // system, else a copy (as copyReplacing) and then the deletion of from. The
    // moved file takes the mode and owner of the file it replaces; a move that
    // fails leaves from with its own. The same refusals as copyReplacing.
    std::optional<FileError> moveReplacing(const std::string& from, const std::string& to) const;

    // Deletes one file (no wildcards). A read-only file or a folder is refused (75).
    std::optional<FileError> deleteFile(const std::string& path) const;

    // Reads the whole file at path into content. A file larger than maxBytes is
    // refused (EFBIG), so that a wrong path cannot fill the memory.
    std::optional<FileError> readAll(const std::string& path, std::size_t maxBytes,
                                     std::string& content) const;

private:
    std::optional<FileError> checkTarget(const std::string& from, const struct stat& source,
                                         const std::string& to, struct stat& existing,
                                         bool& replacing) const;

    Posix& m_posix;
};

}  // namespace kestrom::platform
