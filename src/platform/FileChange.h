// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileOps.h"
#include "platform/Journal.h"
#include "platform/Posix.h"

// Changing files so that a crash or a power loss at any moment leaves each
// with its old or its new content, whole, and never costs more than the change,
// nor more syncs than a few for a whole batch of files.
//
// A change that fits is made in place, under the journal of the file's folder
// (see Journal.h): before the first byte changes, the journal holds the old and
// the new bytes of every file of the batch, on disk; a crash leaves the files of
// an unfinished batch to be rolled back by the next one who opens a file there
// (or by the run's clean-up). A change that does not fit makes the new file as a
// hidden temporary copy beside the old one, renamed over it (see PendingFile).
// A batch (ChangeBatch) makes its changes durable together: one flush for all of
// them before the renames and the journal's done mark, one after.
namespace kestrom::platform {

class ChangeBatch;

// A plain file opened for a safe change, for as long as the object lives: a link
// is followed to the file itself, the file is locked against the other writers
// of this program, and a batch that a crash left unfinished in its folder has
// been rolled back. Errors are errno values.
//
// One object makes one change. Its state:
//   Open      opened to change: stageInPlace, stageRewrite, writeInPlace or
//             rewrite may be called, once
//   Check     opened to check (Purpose::Check): never written
//   Staged    the change is worked out (a rewrite's copy made, not yet synced),
//             for a ChangeBatch to commit; the file is still as it was
//   Changed   written in place: the file holds its new content
//   Replaced  the name leads to a new file, fd() to the old
//   Failed    the change failed: the file is as it was (or, where even that
//             failed, the journal stays for the next opening to roll it back)
// (Changed and Replaced also follow a change whose last flush failed: error()
// then says so.) Only Open leads on. A second change fails with EBADF and
// touches nothing: it would start from what the object saw when it opened the
// file, which no longer holds.
class FileChange {
public:
    // What a file is opened for. Check: only the checks that come before a
    // change (opened for writing and locked as for it, its folder opened); a
    // journal that a crash left is neither rolled back nor removed.
    enum class Purpose { Change, Check };
    enum class State { Open, Check, Staged, Changed, Replaced, Failed };

    // Opens the file at path. EINVAL: no plain file; EACCES: read-only (owner
    // write permission clear); EBUSY: another process is changing it. A change
    // for batch (when given) needs no look for an unfinished batch in a folder
    // where batch holds the journal: none can be there beside it (nor is the
    // folder opened again).
    static int open(Posix& posix, const std::string& path, std::optional<FileChange>& out,
                    Purpose purpose = Purpose::Change, const ChangeBatch* batch = nullptr);
    FileChange(FileChange&& other) noexcept;
    FileChange& operator=(FileChange&&) = delete;
    ~FileChange();

    int fd() const { return m_fd.get(); }
    const struct stat& status() const { return m_status; }
    State state() const { return m_state; }
    // The result of the change once its batch committed it: 0 or errno.
    int error() const { return m_error; }
    // The file's own path (where a link led) and its folder, with the "/".
    const std::string& path() const { return m_path; }
    const std::string& folder() const { return m_folder; }

    // Stages the patches (copied) to be written in place and the length to be
    // set to newLength: the bytes the batch's journal holds for this file.
    int stageInPlace(std::span<const Patch> patches, off_t newLength);
    // Stages a replacement of the file with head, then its own bytes
    // from..to, then tail: made now, in a hidden copy that takes the file's mode
    // and owner, and renamed over the file when the batch commits. 0 or errno
    // (Failed, nothing left beside the file).
    int stageRewrite(std::string_view head, off_t from, off_t to, std::string_view tail);
    // The bytes the journal holds for a change staged in place (none for others).
    std::size_t journalBytes() const;

    // Stage, then commit as a batch of one: the change is on disk when it
    // returns 0. EBUSY: the file changed (or was replaced) since it was opened,
    // and nothing was written.
    int writeInPlace(std::span<const Patch> patches, off_t newLength);
    int rewrite(std::string_view head, off_t from, off_t to, std::string_view tail);

private:
    friend class ChangeBatch;
    FileChange(Posix& posix, Fd fd, std::string path);
    // openFolder: open the file's folder too (else its batch has it open).
    int lockAndRecover(bool openFolder);
    // 0 when the file has kept its size and time since it was opened, and its
    // name still leads to it; else EBUSY, or the errno of a failed look.
    int checkUnchanged(bool byName);
    // The steps of a commit (see ChangeBatch::commit).
    int writeStaged(bool& touched);  // touched: a byte may have changed
    int undoStaged();
    int renameStaged();
    void finish(State state, int error);
    int commitAlone();

    Posix* m_posix;
    Fd m_fd;
    std::string m_path;
    std::string m_folder;
    struct stat m_status {};
    Fd m_folderFd;
    State m_state = State::Open;
    int m_error = 0;
    // Staged in place: the bytes (new, old) of each patch, the patches over
    // them, the new length. Staged rewrite: the copy.
    std::vector<std::string> m_bytes;
    std::vector<Patch> m_patches;
    off_t m_newLength = 0;
    std::optional<PendingFile> m_copy;
};

// Commits staged changes together, so that a whole batch costs a few syncs:
//   1. per folder, the journal records every change staged in place (one write
//      and one data sync; the folder's sync too where the journal is new);
//   2. the in-place changes are written (a rewrite's copy is already made);
//   3. one flush of the file system puts all of it on disk;
//   4. the copies are renamed over their files;
//   5. the journal is marked done, and one more flush puts the renames and the
//      mark on disk.
// A crash before 5 is on disk rolls the in-place changes back (the copies not
// yet renamed are leftovers that go); after it, every change is on disk. A
// change that fails is undone alone; a failed flush undoes the whole batch and
// fails every change in it. After a flush that fails twice (the undo cannot be
// shown to be on disk), every later commit fails at once with that errno and
// writes nothing: the journal stays for the next run to settle.
//
// The journal of each folder stays open from the first commit in it to the
// batch's end, and goes then.
class ChangeBatch {
public:
    explicit ChangeBatch(Posix& posix) : m_posix(&posix) {}
    ChangeBatch(const ChangeBatch&) = delete;
    ChangeBatch& operator=(const ChangeBatch&) = delete;
    ~ChangeBatch();

    // Takes a staged change (the object must outlive the commit); others are ignored.
    void add(FileChange& change);
    // Commits the changes added since the last commit; each one's state() and
    // error() tell its result. 0 when all succeeded, else the errno of one that
    // failed.
    int commit();
    // Whether the batch holds the journal of folder (ending in "/") now, and
    // so has the folder open.
    bool holdsJournal(const std::string& folder) const { return m_journals.contains(folder); }

private:
    int commitFolder(const std::string& folder, std::vector<FileChange*>& changes);
    int flush(std::span<const int> fds);

    Posix* m_posix;
    std::vector<FileChange*> m_changes;
    std::map<std::string, std::unique_ptr<Journal>> m_journals;  // by folder
    std::map<std::string, Fd> m_folders;  // each folder of a journal, open as long as it
    int m_broken = 0;
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
// (ending in "/"), a temporary file or a journal. A temporary file is removed; a
// journal is settled (see settleJournal). A file that a living process holds is
// left alone. 0, or the errno of a failure, the leftover then staying: ENOENT
// for a journal whose file is not found, EPROTO for one of another version.
int cleanUpLeftover(Posix& posix, const std::string& folder, const std::string& name);

}  // namespace kestrom::platform
