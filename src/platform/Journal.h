// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/stat.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileOps.h"
#include "platform/Posix.h"

// The journal of the changes made in place to the files of one folder, so that
// a crash or a power loss at any moment leaves every file with its old or its
// new content, whole, at the cost of a few syncs for a whole batch of files.
//
// Before the first byte of a batch changes, the journal is on disk in the
// folder: the hidden file ".kestrom.journal", which holds for every file of the
// batch its device and inode, its name, its old and new length, and the old and
// the new bytes of every region it changes. One write and one sync put it there
// (where the journal is new, one flush of the file system for it and its
// name in the folder). Then the batch's
// changes are made and flushed, and the journal is marked done with one more
// write and sync: from then on it rolls nothing back. The folder's next batch
// writes its own journal over it; the last one removes it.
//
// A journal that is not marked done is how an interrupted batch shows. It is
// settled before anything else touches a file of its folder (settleJournal):
// every file it names is rolled back to its old bytes and length and synced,
// then the journal goes. An entry belongs to a file, not to a name. A file is
// the entry's when it has the recorded device and inode, a length that the
// interrupted change can have left (from the shorter of the old and the new
// length to the longer, or to the end of the new bytes), and in every region
// only bytes that the change can have left there: old or new ones, or zeros
// where the file had no byte before. A file that took over the inode number of
// a removed one, or that another program changed since, is not the entry's and
// is never "rolled back" into a mix of two files; it is left as it is. The file
// is found under the recorded name, else among the folder's plain files by
// device and inode (after a rename within the folder, or a hard link made
// there). A file that left the folder cannot be found: the journal then stays,
// and the run's clean-up reports it (ENOENT) at every run until the file is
// back, whereupon it is rolled back, or a person removes the journal. A journal
// cut short by a crash, or marked done, is simply removed: its files were not
// touched yet, or hold their new content whole.
namespace kestrom::platform {

// A region of a file to be overwritten: new bytes at offset, and the file's
// current bytes there (those inside its current length).
struct Patch {
    off_t offset = 0;
    std::string_view bytes;
    std::string_view old;
};

inline constexpr std::string_view kJournalName = ".kestrom.journal";
// The folder's journal, or one that had to move aside (see settleJournal).
bool isJournalName(std::string_view name);
// What a killed process of this program may have left in a folder: a journal,
// a temporary file, a pair move's record or the companion it linked aside.
bool isLeftoverName(std::string_view name);

// One file's change, as a journal holds it: the file's status when it was
// opened (device, inode, length), its name in the journal's folder, its new
// length, and the regions to write (bytes: new, old: the file's bytes there now).
struct JournalEntry {
    struct stat file {};
    std::string name;
    off_t newLength = 0;
    std::span<const Patch> regions;
};

// The journal of a folder, opened for a batch and locked against other
// processes for as long as the object lives.
class Journal {
public:
    // Opens the journal of folder (ending in "/", or "" for the current folder),
    // creating it; a journal that a crashed batch left there is settled first,
    // and moved aside when it stays. EBUSY: another batch holds it. 0 or errno.
    static int open(Posix& posix, const std::string& folder, std::optional<Journal>& out);
    Journal(Journal&& other) noexcept;
    Journal& operator=(Journal&&) = delete;
    ~Journal() = default;

    // Puts the batch's entries on disk: the journal holds exactly them when it
    // returns 0. On failure nothing of the batch may be changed.
    int record(std::span<const JournalEntry> entries);
    // The recorded batch's changes are on disk: the journal rolls nothing back
    // any more. On failure it still does, at the next settling.
    int markDone();
    // The journal's descriptor, on the folder's file system.
    int fd() const { return m_fd.get(); }
    // Removes the journal; its removal reaches the disk with the folder's next
    // sync (until then a power loss brings it back: done, or rolling back a
    // batch whose changes are on disk, to the old content, whole).
    int remove();

private:
    Journal(Posix& posix, std::string folder, Fd fd, bool fresh);

    Posix* m_posix;
    std::string m_folder;
    Fd m_fd;
    bool m_fresh;  // made by this object: the folder is synced with its first record
};

// Settles the journal name in folder (ending in "/") that a batch which no
// longer runs left there: a journal cut short or marked done is removed; one
// that is not is rolled back as the comment at the top says, then removed. 0
// when there is no journal or it is settled; EBUSY: a living batch holds it (it
// is left alone); ENOENT: a file it names is not found, or is not as the batch
// left it, EPROTO: it is of another version (it stays, for the run to report;
// the folder's next batch moves it aside to a hidden name ".kestrom-….journal"
// of its own, see Journal::open); or the errno of a failure (it stays).
int settleJournal(Posix& posix, const std::string& folder, std::string_view name = kJournalName);

}  // namespace kestrom::platform
