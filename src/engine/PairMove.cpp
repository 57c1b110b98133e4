// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/PairMove.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/FileChange.h"
#include "platform/FileOps.h"
#include "platform/SealedRecord.h"

namespace kestrom::engine {
namespace {

using platform::FileError;
using platform::fileErrorFromErrno;
using platform::Posix;

// The pair record, all numbers little-endian: "KSTRPAIR", version (4 bytes),
// flags (4), the inode of the library MP3 file the pair replaces (8, 0 for
// none), the five names of PairMove (each a 4-byte length and its bytes), and
// the hash (see platform/SealedRecord.h). A record cut short by a crash fails
// the hash: nothing had moved.
constexpr std::string_view kMagic = "KSTRPAIR";
constexpr std::uint64_t kVersion = 1;
constexpr std::uint64_t kCopy = 1, kAside = 2;
constexpr std::size_t kMostRecordBytes = std::size_t{1} << 16;

struct Record {
    PairMove move;
    std::uint64_t oldMp3 = 0;
};

std::array<const std::string*, 5> names(const PairMove& m) {
    return {&m.workFolder, &m.companionWork, &m.companionLibrary, &m.mp3Work, &m.mp3Library};
}

std::string encode(const Record& record) {
    const PairMove& m = record.move;
    std::string out(kMagic);
    platform::putNumber(out, kVersion, 4);
    platform::putNumber(out, (m.copyCompanion ? kCopy : 0) | (m.replacesCompanion ? kAside : 0), 4);
    platform::putNumber(out, record.oldMp3, 8);
    for (const std::string* name : names(m)) platform::putName(out, *name);
    platform::seal(out);
    return out;
}

// Nothing when data is no complete record.
std::optional<Record> decode(std::string_view data) {
    const std::optional<std::string_view> content = platform::unsealed(data, kMagic);
    if (!content) return std::nullopt;
    platform::RecordReader in(*content);
    Record record;
    PairMove& m = record.move;
    std::uint64_t version = 0, flags = 0;
    if (!in.number(version, 4) || version != kVersion || !in.number(flags, 4) ||
        !in.number(record.oldMp3, 8) || !in.name(m.workFolder) || !in.name(m.companionWork) ||
        !in.name(m.companionLibrary) || !in.name(m.mp3Work) || !in.name(m.mp3Library) ||
        !in.atEnd())
        return std::nullopt;
    m.copyCompanion = (flags & kCopy) != 0;
    m.replacesCompanion = (flags & kAside) != 0;
    return record;
}

// Looks at path without following a link at its end. there: whether it is
// there. 0, or the errno of a failed look.
int look(Posix& posix, const std::string& path, struct stat& st, bool& there) {
    there = posix.lstat(path.c_str(), &st) == 0;
    return there || errno == ENOENT || errno == ENOTDIR ? 0 : errno;
}

// Whether the files at a and b hold the same bytes. 0 or errno.
int sameBytes(Posix& posix, const std::string& a, const std::string& b, bool& same) {
    const platform::Fd first(posix, posix.open(a.c_str(), O_RDONLY, 0));
    if (!first.valid()) return errno;
    const platform::Fd second(posix, posix.open(b.c_str(), O_RDONLY, 0));
    if (!second.valid()) return errno;
    struct stat sa {};
    struct stat sb {};
    if (posix.fstat(first.get(), &sa) != 0 || posix.fstat(second.get(), &sb) != 0) return errno;
    same = sa.st_size == sb.st_size;
    constexpr off_t kChunk = 1 << 20;
    std::string bytesA, bytesB;
    for (off_t at = 0; same && at < sa.st_size; at += kChunk) {
        if (int err = platform::readAt(posix, first.get(), bytesA, kChunk, at); err != 0)
            return err;
        if (int err = platform::readAt(posix, second.get(), bytesB, kChunk, at); err != 0)
            return err;
        same = bytesA == bytesB;
    }
    return 0;
}

// Whether the pair's MP3 file has arrived in the library: it has left the work
// folder, or the library holds its bytes under its name in a file of its own (a
// copy across file systems, still to be deleted from the work folder). Where
// the work folder itself is gone, the library alone tells: a file other than
// the one the pair replaces is under the name. 0 or errno.
int mp3Arrived(Posix& posix, const std::string& folder, const Record& record, bool& arrived) {
    const PairMove& m = record.move;
    const std::string inLibrary = folder + m.mp3Library, inWork = m.workFolder + m.mp3Work;
    struct stat library {};
    struct stat work {};
    bool libraryThere = false, workThere = false;
    if (int err = look(posix, inLibrary, library, libraryThere); err != 0) return err;
    if (int err = look(posix, m.workFolder, work, workThere); err != 0) return err;
    if (!workThere) {
        arrived = libraryThere && static_cast<std::uint64_t>(library.st_ino) != record.oldMp3;
        return 0;
    }
    if (int err = look(posix, inWork, work, workThere); err != 0) return err;
    arrived = !workThere;
    if (!workThere || !libraryThere) return 0;
    // A work file that is the library's file under a second name has not moved.
    if (posix.stat(inWork.c_str(), &work) != 0 || posix.stat(inLibrary.c_str(), &library) != 0)
        return errno;
    if (work.st_dev == library.st_dev && work.st_ino == library.st_ino) return 0;
    return sameBytes(posix, inWork, inLibrary, arrived);
}

// Deletes a file that a move across file systems put into the library but had
// not yet deleted from the work folder, once the library holds its bytes. (A
// work file whose bytes differ stays, for the next run to move again.)
std::optional<FileError> deleteArrived(Posix& posix, const std::string& work,
                                       const std::string& library) {
    bool same = false;
    if (int err = sameBytes(posix, work, library, same); err != 0)
        return err == ENOENT || err == ENOTDIR ? std::nullopt
                                               : std::optional(fileErrorFromErrno(err));
    if (!same) return std::nullopt;
    return platform::FileOps(posix).deleteFile(work);
}

// Finishes a pair whose MP3 file has arrived.
std::optional<FileError> finish(Posix& posix, const std::string& folder, const PairMove& m) {
    if (auto error = deleteArrived(posix, m.workFolder + m.mp3Work, folder + m.mp3Library))
        return error;
    if (m.copyCompanion) return std::nullopt;
    return deleteArrived(posix, m.workFolder + m.companionWork, folder + m.companionLibrary);
}

// Undoes a pair whose MP3 file has not arrived: a companion that moved goes
// back to the work folder, then the aside link back over the library's
// companion, or where the library had none, the one that came in is removed
// (it is still in the work folder). A work folder that no longer exists gets
// nothing back; the library still goes back to its old pair.
std::optional<FileError> undo(Posix& posix, const std::string& folder, const std::string& aside,
                              const PairMove& m) {
    const std::string inWork = m.workFolder + m.companionWork;
    const std::string inLibrary = folder + m.companionLibrary;
    struct stat st {};
    bool workThere = false, home = false;
    if (int err = look(posix, m.workFolder, st, workThere); err != 0)
        return fileErrorFromErrno(err);
    if (workThere) {
        if (int err = look(posix, inWork, st, home); err != 0) return fileErrorFromErrno(err);
    }
    if (workThere && !home && !m.copyCompanion) {
        struct stat kept {};
        bool there = false, keptThere = false;
        if (int err = look(posix, inLibrary, st, there); err != 0) return fileErrorFromErrno(err);
        if (int err = look(posix, aside, kept, keptThere); err != 0) return fileErrorFromErrno(err);
        // What is under the name is the work folder's companion, unless it is the
        // library's own, still in place.
        if (there && !(keptThere && kept.st_ino == st.st_ino)) {
            if (auto error = platform::FileOps(posix).moveReplacing(inLibrary, inWork))
                return error;
            home = true;
        }
    }
    if (m.replacesCompanion) {
        // Renaming a link over another name of its own file changes nothing; the
        // caller then removes the aside link.
        if (posix.rename(aside.c_str(), inLibrary.c_str()) != 0 && errno != ENOENT)
            return fileErrorFromErrno(errno);
    } else if (home || !workThere) {
        if (posix.unlink(inLibrary.c_str()) != 0 && errno != ENOENT)
            return fileErrorFromErrno(errno);
    }
    return std::nullopt;
}

// Removes the aside link and then the record: the record outlives its link, so
// an aside link without a record never belongs to a pair still under way.
std::optional<FileError> removeRecord(Posix& posix, const std::string& aside,
                                      const std::string& record) {
    if (posix.unlink(aside.c_str()) != 0 && errno != ENOENT) return fileErrorFromErrno(errno);
    if (posix.unlink(record.c_str()) != 0 && errno != ENOENT) return fileErrorFromErrno(errno);
    return std::nullopt;
}

std::string asideOf(std::string_view record) {
    return std::string(record.substr(0, record.size() - std::string_view(".pair").size())) +
           ".aside";
}

std::optional<FileError> settleRecord(Posix& posix, const std::string& folder,
                                      const std::string& name) {
    const std::string path = folder + name, aside = folder + asideOf(name);
    const platform::Fd fd(posix, posix.open(path.c_str(), O_RDONLY | O_NOFOLLOW, 0));
    if (!fd.valid())
        return errno == ENOENT ? std::nullopt : std::optional(fileErrorFromErrno(errno));
    // A living run holds its record locked.
    if (posix.flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return std::nullopt;
    std::string data;
    if (int err = platform::readFile(posix, path, kMostRecordBytes, data); err != 0)
        return fileErrorFromErrno(err);
    const std::optional<Record> record = decode(data);
    // A record cut short was written before anything moved: it simply goes,
    // with its aside link.
    if (record) {
        bool arrived = false;
        if (int err = mp3Arrived(posix, folder, *record, arrived); err != 0)
            return fileErrorFromErrno(err);
        const PairMove& m = record->move;
        if (auto error = arrived ? finish(posix, folder, m) : undo(posix, folder, aside, m))
            return error;
        // What was put back is on disk before the record goes.
        platform::syncFolder(posix, m.workFolder);
        platform::syncFolder(posix, folder);
    }
    return removeRecord(posix, aside, path);
}

}  // namespace

PreparedPair::PreparedPair(Posix& posix, std::string folder, PairMove move, std::uint64_t oldMp3,
                           std::string path, std::string aside, platform::Fd fd)
    : m_posix(&posix),
      m_folder(std::move(folder)),
      m_move(std::move(move)),
      m_oldMp3(oldMp3),
      m_path(std::move(path)),
      m_aside(std::move(aside)),
      m_fd(std::move(fd)) {}

PreparedPair::PreparedPair(PreparedPair&& other) noexcept
    : m_posix(other.m_posix),
      m_folder(std::move(other.m_folder)),
      m_move(std::move(other.m_move)),
      m_oldMp3(other.m_oldMp3),
      m_path(std::move(other.m_path)),
      m_aside(std::move(other.m_aside)),
      m_fd(std::move(other.m_fd)),
      m_done(std::exchange(other.m_done, true)) {}

PreparedPair::~PreparedPair() {
    // Nothing has moved: the hidden files go.
    if (!m_done) removeRecord(*m_posix, m_aside, m_path);
}

std::optional<FileError> PreparedPair::prepare(Posix& posix, const std::string& folder,
                                               const PairMove& move,
                                               std::optional<PreparedPair>& out) {
    out.reset();
    const platform::FileOps files(posix);
    Record record{move};
    struct stat st {};
    bool there = false;
    if (int err = look(posix, folder + move.mp3Library, st, there); err != 0)
        return fileErrorFromErrno(err);
    if (there) record.oldMp3 = st.st_ino;

    // The record is made first, empty: from here on a crash leaves it, and the
    // next run removes a record cut short together with its aside link.
    std::string path, aside;
    platform::Fd fd;
    for (unsigned attempt = 0; !fd.valid(); ++attempt) {
        const std::string stem = folder + platform::hiddenName("", attempt);
        path = stem + ".pair";
        aside = stem + ".aside";
        fd = platform::Fd(posix, posix.open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
        if (!fd.valid() && (errno != EEXIST || attempt == 100)) return fileErrorFromErrno(errno);
    }
    const int recordFd = fd.get();
    // From here a failure removes the hidden files with the object.
    PreparedPair prepared(posix, folder, move, record.oldMp3, path, aside, std::move(fd));
    // A run cleaning up after killed ones leaves a living run's record alone.
    if (posix.flock(recordFd, LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK)
        return fileErrorFromErrno(errno);
    // A file system without hard links (FAT), or one that refuses a link to
    // another user's file, gets a copy aside instead.
    const std::string inLibrary = folder + move.companionLibrary;
    if (move.replacesCompanion && posix.link(inLibrary.c_str(), aside.c_str()) != 0) {
        if (auto failure = files.copyReplacing(inLibrary, aside)) return failure;
    }
    if (int err = platform::writeAll(posix, recordFd, encode(record), 0); err != 0)
        return fileErrorFromErrno(err);
    out.emplace(std::move(prepared));
    return std::nullopt;
}

std::optional<FileError> PreparedPair::carryOut() {
    Posix& posix = *m_posix;
    const PairMove& move = m_move;
    const platform::FileOps files(posix);
    const std::string inWork = move.workFolder + move.companionWork;
    const std::string inLibrary = m_folder + move.companionLibrary;
    m_done = true;
    auto error = move.copyCompanion ? files.copyReplacing(inWork, inLibrary)
                                    : files.moveReplacing(inWork, inLibrary);
    const bool mp3Moving = !error;
    if (mp3Moving)
        error = files.moveReplacing(move.workFolder + move.mp3Work, m_folder + move.mp3Library);
    if (error) {
        // Settled as the next run would: a move across file systems may have put
        // the MP3 file into the library and failed only to delete it from the
        // work folder, and then the pair is finished (with a second try at the
        // deletion); any other pair is undone. Where that fails too, the record
        // stays for the next run.
        bool arrived = false;
        if (mp3Moving && mp3Arrived(posix, m_folder, {move, m_oldMp3}, arrived) != 0) return error;
        if (arrived ? finish(posix, m_folder, move) : undo(posix, m_folder, m_aside, move))
            return error;
        if (arrived) error.reset();
    }
    // The removals reach the disk with the run's folder syncs; until then a
    // power loss brings them back, and the next run finishes the pair again.
    removeRecord(posix, m_aside, m_path);
    return error;
}

std::optional<FileError> movePair(Posix& posix, const std::string& folder, const PairMove& move) {
    std::optional<PreparedPair> prepared;
    if (auto error = PreparedPair::prepare(posix, folder, move, prepared)) return error;
    // The record and the aside link are on disk before anything moves.
    if (posix.fsync(prepared->fd()) != 0) return fileErrorFromErrno(errno);
    if (int err = platform::syncFolder(posix, folder); err != 0) return fileErrorFromErrno(err);
    return prepared->carryOut();
}

std::optional<FileError> settleLeftover(Posix& posix, const std::string& folder,
                                        const std::string& name) {
    if (platform::isPairRecordName(name)) return settleRecord(posix, folder, name);
    if (platform::isAsideLinkName(name)) {
        const std::string_view stem =
            std::string_view(name).substr(0, name.size() - std::string_view(".aside").size());
        struct stat st {};
        bool recorded = false;
        if (int err = look(posix, folder + std::string(stem) + ".pair", st, recorded); err != 0)
            return fileErrorFromErrno(err);
        // Its record settles it.
        if (recorded) return std::nullopt;
        if (posix.unlink((folder + name).c_str()) != 0 && errno != ENOENT)
            return fileErrorFromErrno(errno);
        return std::nullopt;
    }
    if (int err = platform::cleanUpLeftover(posix, folder, name); err != 0)
        return fileErrorFromErrno(err);
    return std::nullopt;
}

}  // namespace kestrom::engine
