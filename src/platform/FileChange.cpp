// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileChange.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/DirLookup.h"
#include "platform/SealedRecord.h"

namespace kestrom::platform {
namespace {

// The undo record (see SealedRecord.h), all numbers little-endian:
//   "KSTRUNDO", version (4 bytes), device, inode, old length, new length (8
//   each), the file's name (4-byte length, bytes), the number of regions (4),
//   each region's offset (8), old bytes and new bytes (each an 8-byte length and
//   the bytes), and the hash. A record cut short by a crash fails the hash: the
//   file was never touched.
constexpr std::string_view kMagic = "KSTRUNDO";
constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kMostRecordBytes = std::size_t{1} << 30;

struct Record {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t length = 0;
    std::uint64_t newLength = 0;
    std::string_view name;
    std::vector<Patch> regions;  // old holds the bytes to restore
};

std::string encode(const struct stat& file, std::string_view name, std::span<const Patch> patches,
                   off_t newLength) {
    std::string out(kMagic);
    putNumber(out, kVersion, 4);
    putNumber(out, static_cast<std::uint64_t>(file.st_dev), 8);
    putNumber(out, static_cast<std::uint64_t>(file.st_ino), 8);
    putNumber(out, static_cast<std::uint64_t>(file.st_size), 8);
    putNumber(out, static_cast<std::uint64_t>(newLength), 8);
    putName(out, name);
    putNumber(out, patches.size(), 4);
    for (const Patch& p : patches) {
        putNumber(out, static_cast<std::uint64_t>(p.offset), 8);
        putNumber(out, p.old.size(), 8);
        out += p.old;
        putNumber(out, p.bytes.size(), 8);
        out += p.bytes;
    }
    seal(out);
    return out;
}

// What a record file holds: no complete record (cut short by a crash), a
// complete one that this program cannot read (another version), or a record.
enum class Found { CutShort, Unknown, Record };

Found decode(std::string_view data, Record& record) {
    const std::optional<std::string_view> content = unsealed(data, kMagic);
    if (!content) return Found::CutShort;
    RecordReader in(*content);
    std::uint64_t version = 0, nameSize = 0, count = 0;
    if (!in.number(version, 4) || version != kVersion || !in.number(record.device, 8) ||
        !in.number(record.inode, 8) || !in.number(record.length, 8) ||
        !in.number(record.newLength, 8) || !in.number(nameSize, 4) ||
        !in.bytes(record.name, nameSize) || !in.number(count, 4))
        return Found::Unknown;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t offset = 0, oldSize = 0, newSize = 0;
        Patch region;
        if (!in.number(offset, 8) || !in.number(oldSize, 8) || !in.bytes(region.old, oldSize) ||
            !in.number(newSize, 8) || !in.bytes(region.bytes, newSize))
            return Found::Unknown;
        region.offset = static_cast<off_t>(offset);
        record.regions.push_back(region);
    }
    return in.atEnd() ? Found::Record : Found::Unknown;
}

// Whether the open file fd is the record's, as the interrupted change can have
// left it: the recorded device and inode, a length between the old and the new
// one (or the end of the new bytes, written before the length was set), and in
// every region only old or new bytes, or zeros where the file had no byte
// before (a file that grew, as a power loss leaves it). 0 or errno.
int isRecordsFile(Posix& posix, int fd, const struct stat& file, const Record& record, bool& fits) {
    fits = false;
    if (record.device != static_cast<std::uint64_t>(file.st_dev) ||
        record.inode != static_cast<std::uint64_t>(file.st_ino))
        return 0;
    std::uint64_t shortest = std::min(record.length, record.newLength);
    std::uint64_t longest = std::max(record.length, record.newLength);
    for (const Patch& region : record.regions)
        longest =
            std::max(longest, static_cast<std::uint64_t>(region.offset) + region.bytes.size());
    const auto length = static_cast<std::uint64_t>(file.st_size);
    if (length < shortest || length > longest) return 0;
    std::string now;
    for (const Patch& region : record.regions) {
        const std::size_t size = std::max(region.old.size(), region.bytes.size());
        if (int err = readAt(posix, fd, now, size, region.offset); err != 0) return err;
        for (std::size_t i = 0; i < now.size(); ++i) {
            const bool old = i < region.old.size() ? now[i] == region.old[i] : now[i] == '\0';
            if (!old && !(i < region.bytes.size() && now[i] == region.bytes[i])) return 0;
        }
    }
    fits = true;
    return 0;
}

// Writes the old bytes back and restores the old length; 0 or errno.
int restore(Posix& posix, int fd, std::span<const Patch> regions, off_t length) {
    for (const Patch& region : regions)
        if (int err = writeAll(posix, fd, region.old, region.offset); err != 0) return err;
    if (posix.ftruncate(fd, length) != 0) return errno;
    return posix.fsync(fd) == 0 ? 0 : errno;
}

// Settles the undo record at recordPath for the open, locked file fd: a record
// that is this file's is rolled back and removed, one cut short is removed, any
// other is left alone (it is not this file's, or it cannot be read). 0 or errno
// (the record then stays).
int settleRecord(Posix& posix, const std::string& recordPath, int fd, const struct stat& file,
                 int folderFd) {
    std::string data;
    if (int err = readFile(posix, recordPath, kMostRecordBytes, data); err != 0)
        return err == ENOENT ? 0 : err;
    Record record;
    const Found found = decode(data, record);
    if (found == Found::Unknown) return 0;
    if (found == Found::Record) {
        bool fits = false;
        if (int err = isRecordsFile(posix, fd, file, record, fits); err != 0) return err;
        if (!fits) return 0;
        if (int err = restore(posix, fd, record.regions, static_cast<off_t>(record.length));
            err != 0)
            return err;
    }
    if (posix.unlink(recordPath.c_str()) != 0 && errno != ENOENT) return errno;
    // The file is on disk as it was; should the record's removal not reach the
    // disk, the record comes back and rolls back to the same bytes again.
    if (folderFd >= 0) posix.fsync(folderFd);
    return 0;
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

std::string undoRecordName(ino_t inode) {
    char name[48];
    std::snprintf(name, sizeof name, ".kestrom-%llx.undo", static_cast<unsigned long long>(inode));
    return name;
}

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
      m_record(std::move(other.m_record)),
      m_recordPath(std::exchange(other.m_recordPath, {})) {}

// A record that was never needed, or whose change was undone, goes.
FileChange::~FileChange() {
    m_record.reset();
    if (!m_recordPath.empty()) m_posix->unlink(m_recordPath.c_str());
}

int FileChange::open(Posix& posix, const std::string& path, std::optional<FileChange>& out,
                     Purpose purpose) {
    out.reset();
    Fd fd;
    std::string resolved;
    if (int err = openFile(posix, path, O_RDWR, fd, resolved); err != 0)
        return err == EISDIR ? EINVAL : err;
    FileChange change(posix, std::move(fd), std::move(resolved));
    if (posix.fstat(change.fd(), &change.m_status) != 0) return errno;
    if (!S_ISREG(change.m_status.st_mode)) return EINVAL;
    if ((change.m_status.st_mode & S_IWUSR) == 0) return EACCES;
    if (purpose == Purpose::Check) change.m_state = State::Check;
    if (int err = change.lockAndRecover(); err != 0) return err;
    out.emplace(std::move(change));
    return 0;
}

int FileChange::lockAndRecover() {
    // Advisory: it keeps two runs of this program from changing one file at once.
    if (m_posix->flock(fd(), LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    m_folderFd =
        Fd(*m_posix, m_posix->open(folderToOpen(m_folder).c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (!m_folderFd.valid()) return errno;
    if (m_state == State::Check) return 0;
    // A record already there is how a change left unfinished by a crash shows:
    // it is rolled back first, whatever name the file was opened by. Under the
    // lock no other run makes one meanwhile, so a change that writes nothing
    // leaves no trace at all.
    const std::string record = m_folder + undoRecordName(m_status.st_ino);
    struct stat st {};
    if (m_posix->lstat(record.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
    if (int err = settleRecord(*m_posix, record, fd(), m_status, m_folderFd.get()); err != 0)
        return err;
    return m_posix->fstat(fd(), &m_status) == 0 ? 0 : errno;
}

int FileChange::checkUnchanged() {
    struct stat now {};
    if (m_posix->fstat(fd(), &now) != 0) return errno;
    const bool same = now.st_size == m_status.st_size &&
                      now.st_mtim.tv_sec == m_status.st_mtim.tv_sec &&
                      now.st_mtim.tv_nsec == m_status.st_mtim.tv_nsec;
    return same ? 0 : EBUSY;
}

int FileChange::writeInPlace(std::span<const Patch> patches, off_t newLength) {
    if (m_state != State::Open) return EBADF;
    const int err = change(patches, newLength);
    m_state = err == 0 ? State::Changed : State::Failed;
    return err;
}

int FileChange::change(std::span<const Patch> patches, off_t newLength) {
    const std::string recordPath = m_folder + undoRecordName(m_status.st_ino);
    m_record = Fd(*m_posix, m_posix->open(recordPath.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    if (!m_record.valid()) return errno == EEXIST ? EBUSY : errno;
    m_recordPath = recordPath;
    const std::string record = encode(m_status, splitPath(m_path).second, patches, newLength);
    if (int err = writeAll(*m_posix, m_record.get(), record, 0); err != 0) return err;
    if (m_posix->fsync(m_record.get()) != 0 || m_posix->fsync(m_folderFd.get()) != 0) return errno;
    // Nothing is written yet; on failure the destructor removes the record.
    if (int err = checkUnchanged(); err != 0) return err;

    off_t produced = m_status.st_size;
    for (const Patch& p : patches) {
        if (int err = writeAll(*m_posix, fd(), p.bytes, p.offset); err != 0) {
            undo(patches);
            return err;
        }
        produced = std::max(produced, p.offset + static_cast<off_t>(p.bytes.size()));
    }
    if ((produced != newLength && m_posix->ftruncate(fd(), newLength) != 0) ||
        m_posix->fsync(fd()) != 0) {
        const int err = errno;
        undo(patches);
        return err;
    }
    // The removal reaches the disk with the folder's next sync, which the run
    // makes once at its end: until then a power loss rolls the file back, whole.
    if (m_posix->unlink(m_recordPath.c_str()) != 0) return errno;
    m_recordPath.clear();
    return 0;
}

int FileChange::undo(std::span<const Patch> patches) {
    const int err = restore(*m_posix, fd(), patches, m_status.st_size);
    if (err != 0) m_recordPath.clear();  // the record stays for the next open to roll back
    return err;
}

int FileChange::rewrite(std::string_view head, off_t from, off_t to, std::string_view tail) {
    if (m_state != State::Open) return EBADF;
    bool replaced = false;
    const int err = replace(head, from, to, tail, replaced);
    m_state = replaced ? State::Replaced : State::Failed;
    return err;
}

int FileChange::replace(std::string_view head, off_t from, off_t to, std::string_view tail,
                        bool& replaced) {
    // The file is replaced, not changed: it needs no undo record.
    std::optional<PendingFile> pending;
    if (int err = PendingFile::create(*m_posix, m_folder, m_path, pending); err != 0) return err;
    const auto headSize = static_cast<off_t>(head.size());
    if (int err = writeAll(*m_posix, pending->fd(), head, 0); err != 0) return err;
    if (int err = copyRange(*m_posix, fd(), from, pending->fd(), headSize, to - from,
                            sharingBlockSize(m_status));
        err != 0)
        return err;
    if (int err = writeAll(*m_posix, pending->fd(), tail, headSize + to - from); err != 0)
        return err;
    if (int err = pending->takeAttributes(m_status, true); err != 0) return err;
    // The name still leads to this file, which no one changed meanwhile.
    struct stat named {};
    if (m_posix->stat(m_path.c_str(), &named) != 0) return errno;
    if (named.st_ino != m_status.st_ino || named.st_dev != m_status.st_dev) return EBUSY;
    if (int err = checkUnchanged(); err != 0) return err;
    const int err = pending->commit(m_folderFd.get());
    replaced = pending->committed();
    return err;
}

int openForReading(Posix& posix, const std::string& path, Fd& out, struct stat& status) {
    for (int attempt = 0;; ++attempt) {
        std::string resolved;
        if (int err = openFile(posix, path, O_RDONLY, out, resolved); err != 0)
            return err == EISDIR ? EINVAL : err;
        if (posix.fstat(out.get(), &status) != 0) return errno;
        if (!S_ISREG(status.st_mode)) return EINVAL;
        if (attempt == 1) return 0;
        const std::string record =
            std::string(splitPath(resolved).first) + undoRecordName(status.st_ino);
        struct stat st {};
        if (posix.stat(record.c_str(), &st) != 0) return errno == ENOENT ? 0 : errno;
        // A change may have been left unfinished: it is rolled back (when the
        // record is this file's), and the file read again.
        out.reset();
        std::optional<FileChange> change;
        if (int err = FileChange::open(posix, path, change); err != 0) return err;
    }
}

namespace {

// The path of the plain file in folder that has the record's device and inode:
// under the recorded name, else under any other name there (after a rename
// within the folder, or a hard link made there). ENOENT when there is none.
// 0 or errno.
int findRecordsFile(Posix& posix, const std::string& folder, const Record& record,
                    std::string& found) {
    const auto isIt = [&](const std::string& path) {
        struct stat st {};
        return posix.lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               static_cast<std::uint64_t>(st.st_dev) == record.device &&
               static_cast<std::uint64_t>(st.st_ino) == record.inode;
    };
    found = folder + std::string(record.name);
    if (isIt(found)) return 0;
    DirLookup lookup(posix);
    for (std::string name = lookup.first(folder, Filter::Plain); !name.empty();
         name = lookup.next()) {
        found = folder + name;
        if (isIt(found)) return 0;
    }
    return lookup.lastError() != 0 ? lookup.lastError() : ENOENT;
}

}  // namespace

int cleanUpLeftover(Posix& posix, const std::string& folder, const std::string& name) {
    const std::string path = folder + name;
    if (isTemporaryName(name)) {
        Fd fd(posix, posix.open(path.c_str(), O_RDONLY | O_NOFOLLOW, 0));
        if (!fd.valid()) return errno == ENOENT ? 0 : errno;
        if (posix.flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return 0;
        return posix.unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
    }
    if (!isUndoRecordName(name)) return 0;
    std::string data;
    if (int err = readFile(posix, path, kMostRecordBytes, data); err != 0)
        return err == ENOENT ? 0 : err;
    Record record;
    switch (decode(data, record)) {
        case Found::CutShort:  // its file was never touched
            return posix.unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
        case Found::Unknown: return EPROTO;
        case Found::Record: break;
    }
    std::string file;
    if (int err = findRecordsFile(posix, folder, record, file); err != 0) return err;
    // Opening the file rolls the change back and removes the record, unless a
    // living process holds the file. A record that is not the file's stays.
    std::optional<FileChange> change;
    if (int err = FileChange::open(posix, file, change); err != 0) return err == EBUSY ? 0 : err;
    struct stat st {};
    if (posix.lstat(path.c_str(), &st) == 0) return ENOENT;
    return errno == ENOENT ? 0 : errno;
}

}  // namespace kestrom::platform
