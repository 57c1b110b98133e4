// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Journal.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/DirLookup.h"
#include "platform/SealedRecord.h"

namespace kestrom::platform {
namespace {

// The journal (see SealedRecord.h), all numbers little-endian: "KSTRJRNL",
// version (4 bytes), the number of entries (4), each entry's device, inode, old
// length and new length (8 each), its name (4-byte length, bytes), the number of
// its regions (4), each region's offset (8), old bytes and new bytes (each an
// 8-byte length and the bytes), and the hash. Marking it done writes "KSTRDONE"
// over its magic: from then on it is no journal at all, as one cut short by a
// crash is not.
constexpr std::string_view kMagic = "KSTRJRNL";
constexpr std::string_view kDone = "KSTRDONE";
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kMostJournalBytes = std::size_t{1} << 30;

struct Entry {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t length = 0;
    std::uint64_t newLength = 0;
    std::string_view name;
    std::vector<Patch> regions;  // old holds the bytes to restore
};

std::string encode(std::span<const JournalEntry> entries) {
    std::string out(kMagic);
    putNumber(out, kVersion, 4);
    putNumber(out, entries.size(), 4);
    for (const JournalEntry& e : entries) {
        putNumber(out, static_cast<std::uint64_t>(e.file.st_dev), 8);
        putNumber(out, static_cast<std::uint64_t>(e.file.st_ino), 8);
        putNumber(out, static_cast<std::uint64_t>(e.file.st_size), 8);
        putNumber(out, static_cast<std::uint64_t>(e.newLength), 8);
        putName(out, e.name);
        putNumber(out, e.regions.size(), 4);
        for (const Patch& p : e.regions) {
            putNumber(out, static_cast<std::uint64_t>(p.offset), 8);
            putNumber(out, p.old.size(), 8);
            out += p.old;
            putNumber(out, p.bytes.size(), 8);
            out += p.bytes;
        }
    }
    seal(out);
    return out;
}

// What a journal file holds: no journal (cut short by a crash, or marked
// done), a complete one of another version, or a journal.
enum class Found { Nothing, Unknown, Journal };

Found decode(std::string_view data, std::vector<Entry>& entries) {
    const std::optional<std::string_view> content = unsealed(data, kMagic);
    if (!content) return Found::Nothing;
    RecordReader in(*content);
    std::uint64_t version = 0, count = 0;
    if (!in.number(version, 4) || version != kVersion || !in.number(count, 4))
        return Found::Unknown;
    for (std::uint64_t i = 0; i < count; ++i) {
        Entry& entry = entries.emplace_back();
        std::uint64_t nameSize = 0, regions = 0;
        if (!in.number(entry.device, 8) || !in.number(entry.inode, 8) ||
            !in.number(entry.length, 8) || !in.number(entry.newLength, 8) ||
            !in.number(nameSize, 4) || !in.bytes(entry.name, nameSize) || !in.number(regions, 4))
            return Found::Unknown;
        for (std::uint64_t r = 0; r < regions; ++r) {
            std::uint64_t offset = 0, oldSize = 0, newSize = 0;
            Patch region;
            if (!in.number(offset, 8) || !in.number(oldSize, 8) || !in.bytes(region.old, oldSize) ||
                !in.number(newSize, 8) || !in.bytes(region.bytes, newSize))
                return Found::Unknown;
            region.offset = static_cast<off_t>(offset);
            entry.regions.push_back(region);
        }
    }
    return in.atEnd() ? Found::Journal : Found::Unknown;
}

// Whether the open file fd is the entry's, as the interrupted change can have
// left it (see Journal.h). 0 or errno.
int isEntrysFile(Posix& posix, int fd, const struct stat& file, const Entry& entry, bool& fits) {
    fits = false;
    if (entry.device != static_cast<std::uint64_t>(file.st_dev) ||
        entry.inode != static_cast<std::uint64_t>(file.st_ino))
        return 0;
    const std::uint64_t shortest = std::min(entry.length, entry.newLength);
    std::uint64_t longest = std::max(entry.length, entry.newLength);
    for (const Patch& region : entry.regions)
        longest =
            std::max(longest, static_cast<std::uint64_t>(region.offset) + region.bytes.size());
    const auto length = static_cast<std::uint64_t>(file.st_size);
    if (length < shortest || length > longest) return 0;
    std::string now;
    for (const Patch& region : entry.regions) {
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

// The path of the plain file in folder that has the entry's device and inode:
// under the recorded name, else under any other name there (after a rename
// within the folder, or a hard link made there). ENOENT when there is none.
int findEntrysFile(Posix& posix, const std::string& folder, const Entry& entry,
                   std::string& found) {
    const auto isIt = [&](const std::string& path) {
        struct stat st {};
        return posix.lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               static_cast<std::uint64_t>(st.st_dev) == entry.device &&
               static_cast<std::uint64_t>(st.st_ino) == entry.inode;
    };
    found = folder + std::string(entry.name);
    if (isIt(found)) return 0;
    DirLookup lookup(posix);
    for (std::string name = lookup.first(folder, Filter::Plain); !name.empty();
         name = lookup.next()) {
        found = folder + name;
        if (isIt(found)) return 0;
    }
    return lookup.lastError() != 0 ? lookup.lastError() : ENOENT;
}

// Rolls back the entry's file in folder when it is the entry's (and leaves it
// alone when it is not). EBUSY: a living process holds the file. 0 or errno.
int rollBack(Posix& posix, const std::string& folder, const Entry& entry) {
    std::string path;
    if (int err = findEntrysFile(posix, folder, entry, path); err != 0) return err;
    const Fd fd(posix, posix.open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0));
    if (!fd.valid()) return errno;
    if (posix.flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    struct stat file {};
    if (posix.fstat(fd.get(), &file) != 0) return errno;
    bool fits = false;
    if (int err = isEntrysFile(posix, fd.get(), file, entry, fits); err != 0) return err;
    // Another program changed the file since: it is not rolled back into a mix
    // of two files, and the journal stays to be reported.
    if (!fits) return ENOENT;
    for (const Patch& region : entry.regions)
        if (int err = writeAll(posix, fd.get(), region.old, region.offset); err != 0) return err;
    if (posix.ftruncate(fd.get(), static_cast<off_t>(entry.length)) != 0) return errno;
    return posix.fsync(fd.get()) == 0 ? 0 : errno;
}

}  // namespace

bool isJournalName(std::string_view name) {
    return name == kJournalName || (name.starts_with(".kestrom-") && name.ends_with(".journal"));
}

bool isLeftoverName(std::string_view name) {
    return isJournalName(name) || isTemporaryName(name) || isPairRecordName(name) ||
           isAsideLinkName(name);
}

Journal::Journal(Posix& posix, std::string folder, Fd fd, bool fresh)
    : m_posix(&posix), m_folder(std::move(folder)), m_fd(std::move(fd)), m_fresh(fresh) {}

Journal::Journal(Journal&& other) noexcept
    : m_posix(other.m_posix),
      m_folder(std::move(other.m_folder)),
      m_fd(std::move(other.m_fd)),
      m_fresh(other.m_fresh) {}

int Journal::open(Posix& posix, const std::string& folder, std::optional<Journal>& out) {
    out.reset();
    const std::string path = folder + std::string(kJournalName);
    if (int err = settleJournal(posix, folder); err == ENOENT || err == EPROTO) {
        // It stays, under a name of its own, so that this batch can have a
        // journal; the run's clean-up finds it there and reports it.
        const std::string aside = folder + hiddenName(".journal", 0);
        if (posix.rename(path.c_str(), aside.c_str()) != 0) return errno;
    } else if (err != 0) {
        return err;
    }
    Fd fd(posix, posix.open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
    if (!fd.valid()) return errno == EEXIST ? EBUSY : errno;
    if (posix.flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        posix.unlink(path.c_str());
        return err;
    }
    out.emplace(Journal(posix, folder, std::move(fd), true));
    return 0;
}

int Journal::record(std::span<const JournalEntry> entries) {
    const std::string data = encode(entries);
    if (int err = writeAll(*m_posix, m_fd.get(), data, 0); err != 0) return err;
    if (m_posix->ftruncate(m_fd.get(), static_cast<off_t>(data.size())) != 0) return errno;
    if (!m_fresh) return m_posix->fdatasync(m_fd.get()) == 0 ? 0 : errno;
    // A new journal and its name in the folder: one flush of the file system.
    const Fd folder(*m_posix,
                    m_posix->open(folderToOpen(m_folder).c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (!folder.valid()) return errno;
    const int fds[] = {m_fd.get(), folder.get()};
    if (m_posix->flushFiles(fds) != 0) return errno;
    m_fresh = false;
    return 0;
}

int Journal::markDone() {
    return writeAll(*m_posix, m_fd.get(), kDone, 0);
}

int Journal::remove() {
    const std::string path = m_folder + std::string(kJournalName);
    return m_posix->unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

int settleJournal(Posix& posix, const std::string& folder, std::string_view name) {
    const std::string path = folder + std::string(name);
    const Fd fd(posix, posix.open(path.c_str(), O_RDONLY | O_NOFOLLOW, 0));
    if (!fd.valid()) return errno == ENOENT ? 0 : errno;
    // A living batch holds its journal locked.
    if (posix.flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK)
        return errno == EWOULDBLOCK ? EBUSY : errno;
    std::string data;
    if (int err = readFile(posix, path, kMostJournalBytes, data); err != 0)
        return err == ENOENT ? 0 : err;
    std::vector<Entry> entries;
    int stays = 0;
    switch (decode(data, entries)) {
        case Found::Nothing: break;
        case Found::Unknown: stays = EPROTO; break;
        case Found::Journal:
            for (const Entry& entry : entries) {
                const int err = rollBack(posix, folder, entry);
                if (err == ENOENT)
                    stays = ENOENT;
                else if (err != 0)
                    return err;
            }
    }
    if (stays != 0) return stays;
    // Rolled back, the files are on disk as they were: should the removal not
    // reach the disk, the journal comes back and rolls back to the same bytes.
    return posix.unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

}  // namespace kestrom::platform
