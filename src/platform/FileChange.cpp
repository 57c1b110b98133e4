// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileChange.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/DirLookup.h"

namespace kestrom::platform {
namespace {

// Writes the old bytes back and restores the old length, unsynced; 0 or errno.
int restore(Posix& posix, int fd, std::span<const Patch> regions, off_t length) {
    for (const Patch& region : regions)
        if (int err = writeAll(posix, fd, region.old, region.offset); err != 0) return err;
    return posix.ftruncate(fd, length) == 0 ? 0 : errno;
}

// Settles the journal of folder before a file there is opened: a batch that a
// crash left unfinished is rolled back. The journal of a living batch (this
// process's own among them) is left alone: a file it changes is locked. One
// that stays (a file it names is not found, or another version) has moved
// aside for the run's clean-up to report; the file opened is not one it could
// roll back. 0 or errno.
int settleFolder(Posix& posix, const std::string& folder) {
    struct stat st {};
    const std::string journal = folder + std::string(kJournalName);
    if (posix.lstat(journal.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
    const int err = settleJournal(posix, folder);
    return err == EBUSY || err == ENOENT || err == EPROTO ? 0 : err;
}

// Opens path without following a link at its end; a link is resolved first, so
// that the file itself is changed and its hidden files go beside it.
int openFile(Posix& posix, const std::string& path, int flags, Fd& fd, std::string& resolved) {
    resolved = path;
    fd = Fd(posix, posix.open(path.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0));
    if (fd.valid()) return 0;
    if (errno != ELOOP) return errno;
    if (posix.realpath(path.c_str(), resolved) != 0) return errno;
    fd = Fd(posix, posix.open(resolved.c_str(), flags | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0));
    return fd.valid() ? 0 : errno;
}

}  // namespace

FileChange::FileChange(Posix& posix, Fd fd, std::string path)
    : m_posix(&posix), m_fd(std::move(fd)), m_path(std::move(path)) {
    m_folder = std::string(splitPath(m_path).first);
}

FileChange::FileChange(FileChange&& other) noexcept
    : m_posix(other.m_posix),
      m_fd(std::move(other.m_fd)),
      m_path(std::move(other.m_path)),
      m_folder(std::move(other.m_folder)),
      m_status(other.m_status),
      m_folderFd(std::move(other.m_folderFd)),
      m_state(other.m_state),
      m_error(other.m_error),
      m_bytes(std::move(other.m_bytes)),
      m_patches(std::move(other.m_patches)),
      m_newLength(other.m_newLength),
      m_copy(std::move(other.m_copy)) {}

FileChange::~FileChange() = default;

int FileChange::open(Posix& posix, const std::string& path, std::optional<FileChange>& out,
                     Purpose purpose, const ChangeBatch* batch) {
    out.reset();
    Fd fd;
    std::string resolved;
    if (int err = openFile(posix, path, O_RDWR, fd, resolved); err != 0)
        return err == EISDIR ? EINVAL : err;
    FileChange change(posix, std::move(fd), std::move(resolved));
    if (purpose == Purpose::Check) change.m_state = State::Check;
    // The folder's unfinished batch is rolled back before the file is looked at.
    // Where this process's batch holds the journal, the name is its own, and
    // the batch has the folder open.
    const bool besideOwnJournal = batch != nullptr && batch->holdsJournal(change.m_folder);
    if (purpose == Purpose::Change && !besideOwnJournal) {
        if (int err = settleFolder(posix, change.m_folder); err != 0) return err;
    }
    if (posix.fstat(change.fd(), &change.m_status) != 0) return errno;
    if (!S_ISREG(change.m_status.st_mode)) return EINVAL;
    if ((change.m_status.st_mode & S_IWUSR) == 0) return EACCES;
    if (int err = change.lockAndRecover(!besideOwnJournal); err != 0) return err;
    out.emplace(std::move(change));
    return 0;
}

int FileChange::lockAndRecover(bool openFolder) {
    // Advisory: it keeps two runs of this program from changing one file at once.
    if (m_posix->flock(fd(), LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    if (!openFolder) return 0;
    m_folderFd =
        Fd(*m_posix, m_posix->open(folderToOpen(m_folder).c_str(), O_RDONLY | O_DIRECTORY, 0));
    return m_folderFd.valid() ? 0 : errno;
}

int FileChange::checkUnchanged(bool byName) {
    struct stat now {};
    if (m_posix->fstat(fd(), &now) != 0) return errno;
    const bool same = now.st_size == m_status.st_size &&
                      now.st_mtim.tv_sec == m_status.st_mtim.tv_sec &&
                      now.st_mtim.tv_nsec == m_status.st_mtim.tv_nsec;
    if (!same) return EBUSY;
    if (!byName) return 0;
    // The name still leads to this file.
    struct stat named {};
    if (m_posix->stat(m_path.c_str(), &named) != 0) return errno;
    return named.st_ino == m_status.st_ino && named.st_dev == m_status.st_dev ? 0 : EBUSY;
}

int FileChange::stageInPlace(std::span<const Patch> patches, off_t newLength) {
    if (m_state != State::Open) return EBADF;
    m_bytes.clear();
    m_bytes.reserve(patches.size() * 2);
    for (const Patch& p : patches) {
        m_bytes.emplace_back(p.bytes);
        m_bytes.emplace_back(p.old);
    }
    m_patches.clear();
    for (std::size_t i = 0; i < patches.size(); ++i)
        m_patches.push_back({patches[i].offset, m_bytes[2 * i], m_bytes[2 * i + 1]});
    m_newLength = newLength;
    m_state = State::Staged;
    return 0;
}

int FileChange::stageRewrite(std::string_view head, off_t from, off_t to, std::string_view tail) {
    if (m_state != State::Open) return EBADF;
    const auto fail = [this](int err) {
        m_copy.reset();
        finish(State::Failed, err);
        return err;
    };
    // The file is replaced, not changed: the journal needs nothing of it.
    if (int err = PendingFile::create(*m_posix, m_folder, m_path, m_copy); err != 0)
        return fail(err);
    const auto headSize = static_cast<off_t>(head.size());
    if (int err = writeAll(*m_posix, m_copy->fd(), head, 0); err != 0) return fail(err);
    if (int err = copyRange(*m_posix, fd(), from, m_copy->fd(), headSize, to - from,
                            sharingBlockSize(m_status));
        err != 0)
        return fail(err);
    if (int err = writeAll(*m_posix, m_copy->fd(), tail, headSize + to - from); err != 0)
        return fail(err);
    if (int err = m_copy->takeAttributes(m_status, true); err != 0) return fail(err);
    m_state = State::Staged;
    return 0;
}

std::size_t FileChange::journalBytes() const {
    std::size_t bytes = 0;
    for (const std::string& b : m_bytes) bytes += b.size();
    return bytes;
}

void FileChange::finish(State state, int error) {
    m_state = state;
    m_error = error;
}

int FileChange::writeStaged(bool& touched) {
    // Nothing is written yet: a file that changed since it was opened stays as it is.
    touched = false;
    if (int err = checkUnchanged(false); err != 0) return err;
    touched = true;
    off_t produced = m_status.st_size;
    for (const Patch& p : m_patches) {
        if (int err = writeAll(*m_posix, fd(), p.bytes, p.offset); err != 0) return err;
        produced = std::max(produced, p.offset + static_cast<off_t>(p.bytes.size()));
    }
    if (produced != m_newLength && m_posix->ftruncate(fd(), m_newLength) != 0) return errno;
    return 0;
}

int FileChange::undoStaged() {
    return restore(*m_posix, fd(), m_patches, m_status.st_size);
}

int FileChange::renameStaged() {
    if (int err = checkUnchanged(true); err != 0) return err;
    return m_copy->rename();
}

int FileChange::commitAlone() {
    ChangeBatch batch(*m_posix);
    batch.add(*this);
    batch.commit();
    return m_error;
}

int FileChange::writeInPlace(std::span<const Patch> patches, off_t newLength) {
    if (int err = stageInPlace(patches, newLength); err != 0) return err;
    return commitAlone();
}

int FileChange::rewrite(std::string_view head, off_t from, off_t to, std::string_view tail) {
    if (int err = stageRewrite(head, from, to, tail); err != 0) return err;
    return commitAlone();
}

ChangeBatch::~ChangeBatch() {
    // Every batch is done (or failed and undone): the journals go. A removal
    // that a power loss takes back leaves a done journal, which rolls nothing
    // back; one that stays after a failed flush is not removed.
    for (auto& [folder, journal] : m_journals)
        if (m_broken == 0) journal->remove();
}

void ChangeBatch::add(FileChange& change) {
    if (change.state() == FileChange::State::Staged) m_changes.push_back(&change);
}

int ChangeBatch::flush(std::span<const int> fds) {
    return m_posix->flushFiles(fds) == 0 ? 0 : errno;
}

int ChangeBatch::commit() {
    std::map<std::string, std::vector<FileChange*>> byFolder;
    for (FileChange* change : m_changes) byFolder[change->folder()].push_back(change);
    m_changes.clear();
    for (auto& [folder, changes] : byFolder) commitFolder(folder, changes);
    int failed = 0;
    for (auto& [folder, changes] : byFolder)
        for (const FileChange* change : changes)
            if (change->error() != 0) failed = change->error();
    return failed;
}

int ChangeBatch::commitFolder(const std::string& folder, std::vector<FileChange*>& changes) {
    using State = FileChange::State;
    const auto failAll = [&](int err) {
        for (FileChange* c : changes) {
            c->m_copy.reset();
            c->finish(State::Failed, err);
        }
        return err;
    };
    if (m_broken != 0) return failAll(m_broken);

    std::vector<FileChange*> inPlace;
    for (FileChange* c : changes)
        if (!c->m_copy) inPlace.push_back(c);
    Journal* journal = nullptr;
    if (!inPlace.empty()) {
        // 1. The journal, on disk before the first byte changes.
        auto& slot = m_journals[folder];
        if (!slot) {
            std::optional<Journal> opened;
            if (int err = Journal::open(*m_posix, folder, opened); err != 0) {
                m_journals.erase(folder);
                return failAll(err);
            }
            slot = std::make_unique<Journal>(std::move(*opened));
            // The folder stays open with it, for the later changes there.
            m_folders[folder] = std::move(changes.front()->m_folderFd);
        }
        journal = slot.get();
        std::vector<JournalEntry> entries;
        entries.reserve(inPlace.size());
        for (FileChange* c : inPlace)
            entries.push_back({c->m_status, std::string(splitPath(c->m_path).second),
                               c->m_newLength, c->m_patches});
        if (int err = journal->record(entries); err != 0) return failAll(err);
        // 2. The changes in place; one that fails is undone at once.
        for (FileChange* c : inPlace) {
            bool touched = false;
            if (int err = c->writeStaged(touched); err != 0) {
                c->finish(State::Failed, err);
                if (touched && c->undoStaged() != 0) m_broken = err;
            }
        }
    }
    // 3. One flush for the batch's writes and copies (and the folder, where the
    // copies are and the renames go).
    const auto held = m_folders.find(folder);
    std::vector<int> fds{held != m_folders.end() ? held->second.get()
                                                 : changes.front()->m_folderFd.get()};
    if (journal != nullptr) fds.push_back(journal->fd());
    for (const FileChange* c : changes) fds.push_back(c->m_copy ? c->m_copy->fd() : c->fd());
    if (int err = flush(fds); err != 0 || m_broken != 0) {
        // What reached the disk is unknown: the batch is undone, and that put on disk.
        const int cause = err != 0 ? err : m_broken;
        for (FileChange* c : inPlace)
            if (c->state() == State::Staged && c->undoStaged() != 0) m_broken = cause;
        if (flush(fds) != 0) m_broken = cause;
        return failAll(cause);
    }
    // 4. The copies over their files.
    bool renamed = false;
    for (FileChange* c : changes) {
        if (c->state() != State::Staged) continue;
        if (!c->m_copy) {
            c->finish(State::Changed, 0);
        } else if (int err = c->renameStaged(); err != 0) {
            c->m_copy.reset();
            c->finish(State::Failed, err);
        } else {
            c->finish(State::Replaced, 0);
            renamed = true;
        }
    }
    // 5. Done: from the mark on, nothing of the batch is rolled back.
    if (journal != nullptr || renamed) {
        int err = journal != nullptr ? journal->markDone() : 0;
        if (err == 0) err = flush(fds);
        if (err != 0) {
            // The changes are made, whole, but not shown to be on disk.
            for (FileChange* c : changes)
                if (c->m_error == 0) c->m_error = err;
            return err;
        }
    }
    return 0;
}

int openForReading(Posix& posix, const std::string& path, Fd& out, struct stat& status) {
    for (int attempt = 0;; ++attempt) {
        std::string resolved;
        if (int err = openFile(posix, path, O_RDONLY, out, resolved); err != 0)
            return err == EISDIR ? EINVAL : err;
        if (posix.fstat(out.get(), &status) != 0) return errno;
        if (!S_ISREG(status.st_mode)) return EINVAL;
        if (attempt == 1) return 0;
        const std::string folder(splitPath(resolved).first);
        const std::string journal = folder + std::string(kJournalName);
        struct stat st {};
        if (posix.lstat(journal.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
        // A batch may have been left unfinished there: it is rolled back, and the
        // file opened again. A living batch keeps the files it changes locked.
        const int err = settleJournal(posix, folder);
        if (err == EBUSY) {
            if (posix.flock(out.get(), LOCK_SH | LOCK_NB) != 0 && errno != ENOLCK)
                return errno == EWOULDBLOCK ? EBUSY : errno;
            posix.flock(out.get(), LOCK_UN);
            return 0;
        }
        if (err != 0 && err != ENOENT && err != EPROTO) return err;
        out.reset();
    }
}

int cleanUpLeftover(Posix& posix, const std::string& folder, const std::string& name) {
    const std::string path = folder + name;
    if (isTemporaryName(name)) {
        Fd fd(posix, posix.open(path.c_str(), O_RDONLY | O_NOFOLLOW, 0));
        if (!fd.valid()) return errno == ENOENT ? 0 : errno;
        if (posix.flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return 0;
        return posix.unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
    }
    if (!isJournalName(name)) return 0;
    // A living batch's journal is its own business.
    const int err = settleJournal(posix, folder, name);
    return err == EBUSY ? 0 : err;
}

}  // namespace kestrom::platform
