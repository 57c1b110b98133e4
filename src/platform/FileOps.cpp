// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileOps.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <utility>

#include "platform/DirLookup.h"

namespace kestrom::platform {
namespace {

constexpr std::string_view kHiddenPrefix = ".kestrom-";

bool isReadOnly(const struct stat& st) {
    return (st.st_mode & S_IWUSR) == 0;
}

// Copies by reads and writes, for file systems the kernel cannot copy within.
int copyByReading(Posix& posix, int in, off_t inOffset, int out, off_t outOffset, off_t length) {
    constexpr std::size_t kChunk = 1 << 20;
    std::string buffer;
    while (length > 0) {
        const auto want = static_cast<std::size_t>(std::min<off_t>(length, kChunk));
        if (int err = readAt(posix, in, buffer, want, inOffset); err != 0) return err;
        if (buffer.size() != want) return EIO;  // the file is shorter than it was
        if (int err = writeAll(posix, out, buffer, outOffset); err != 0) return err;
        inOffset += static_cast<off_t>(want);
        outOffset += static_cast<off_t>(want);
        length -= static_cast<off_t>(want);
    }
    return 0;
}

}  // namespace

bool isTemporaryName(std::string_view name) {
    return name.starts_with(kHiddenPrefix) && name.ends_with(".tmp");
}

bool isPairRecordName(std::string_view name) {
    return name.starts_with(kHiddenPrefix) && name.ends_with(".pair");
}

bool isAsideLinkName(std::string_view name) {
    return name.starts_with(kHiddenPrefix) && name.ends_with(".aside");
}

std::string hiddenName(std::string_view suffix, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char name[64];
    std::snprintf(name, sizeof name, ".kestrom-%x-%llx-%x", static_cast<unsigned>(::getpid()),
                  (now ^ (now >> 29)) & 0xFFFFFFFFull, counter.fetch_add(1) + attempt);
    return name + std::string(suffix);
}

Fd::Fd(Fd&& other) noexcept : m_posix(other.m_posix), m_fd(std::exchange(other.m_fd, -1)) {}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        m_posix = other.m_posix;
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void Fd::reset() {
    if (m_fd >= 0) m_posix->close(m_fd);
    m_fd = -1;
}

int writeAll(Posix& posix, int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t put = posix.pwrite(fd, bytes.data(), bytes.size(), offset);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (put == 0) return ENOSPC;
        bytes.remove_prefix(static_cast<std::size_t>(put));
        offset += put;
    }
    return 0;
}

int readAt(Posix& posix, int fd, std::string& buffer, std::size_t count, off_t offset) {
    buffer.resize(count);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got =
            posix.pread(fd, buffer.data() + done, count - done, offset + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    buffer.resize(done);
    return 0;
}

int readFile(Posix& posix, const std::string& path, std::size_t maxBytes, std::string& content) {
    content.clear();
    const Fd in(posix, posix.open(path.c_str(), O_RDONLY, 0));
    if (!in.valid()) return errno;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = posix.read(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        if (static_cast<std::size_t>(got) > maxBytes - content.size()) return EFBIG;
        content.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

int copyRange(Posix& posix, int in, off_t inOffset, int out, off_t outOffset, off_t length,
              off_t blockSize) {
    off_t head = 0;
    off_t middle = length;
    if (blockSize > 0 && inOffset % blockSize == outOffset % blockSize) {
        head = std::min(length, (blockSize - inOffset % blockSize) % blockSize);
        middle = (length - head) / blockSize * blockSize;
    }
    for (off_t piece : {head, middle, length - head - middle}) {
        while (piece > 0) {
            const ssize_t copied = posix.copyFileRange(in, &inOffset, out, &outOffset,
                                                       static_cast<std::size_t>(piece));
            if (copied < 0) {
                if (errno == EINTR) continue;
                if (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP)
                    return copyByReading(posix, in, inOffset, out, outOffset, length);
                return errno;
            }
            if (copied == 0) return EIO;  // the file is shorter than it was
            piece -= copied;
            length -= copied;
        }
    }
    return 0;
}

off_t sharingBlockSize(const struct stat& status) {
    const auto size = static_cast<off_t>(status.st_blksize);
    const bool powerOfTwo = size > 0 && (size & (size - 1)) == 0;
    return powerOfTwo && size >= 512 && size <= 65536 ? size : 4096;
}

int syncFolder(Posix& posix, std::string_view folder) {
    const std::string path = folderToOpen(folder);
    Fd fd(posix, posix.open(path.c_str(), O_RDONLY | O_DIRECTORY, 0));
    if (!fd.valid()) return errno;
    return posix.fsync(fd.get()) == 0 ? 0 : errno;
}

std::vector<int> flushByFileSystem(Posix& posix, std::span<const int> fds) {
    std::vector<int> results(fds.size(), 0);
    std::map<dev_t, std::vector<std::size_t>> groups;
    for (std::size_t k = 0; k < fds.size(); ++k) {
        struct stat st {};
        if (posix.fstat(fds[k], &st) != 0)
            results[k] = errno;
        else
            groups[st.st_dev].push_back(k);
    }
    for (const auto& [device, members] : groups) {
        std::vector<int> group;
        group.reserve(members.size());
        for (const std::size_t k : members) group.push_back(fds[k]);
        const int err = posix.flushFiles(group) == 0 ? 0 : errno;
        for (const std::size_t k : members) results[k] = err;
    }
    return results;
}

PendingFile::PendingFile(Posix& posix, std::string path, std::string target, int fd)
    : m_posix(&posix), m_path(std::move(path)), m_target(std::move(target)), m_fd(posix, fd) {}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_posix(other.m_posix),
      m_path(std::move(other.m_path)),
      m_target(std::move(other.m_target)),
      m_fd(std::move(other.m_fd)),
      m_committed(std::exchange(other.m_committed, true)) {}

PendingFile::~PendingFile() {
    m_fd.reset();
    if (!m_committed) m_posix->unlink(m_path.c_str());
}

int PendingFile::create(Posix& posix, std::string_view folder, std::string target,
                        std::optional<PendingFile>& out) {
    out.reset();
    for (unsigned attempt = 0;; ++attempt) {
        std::string path = std::string(folder) + hiddenName(".tmp", attempt);
        const int fd = posix.open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            out.emplace(PendingFile(posix, std::move(path), std::move(target), fd));
            break;
        }
        if (errno != EEXIST || attempt == 100) return errno;
    }
    // A cleaner that takes the lock between the creation and here removes the
    // file, and the commit then fails: the target is never touched.
    if (posix.flock(out->fd(), LOCK_EX | LOCK_NB) != 0 && errno != ENOLCK) {
        const int err = errno;
        out.reset();
        return err;
    }
    return 0;
}

int PendingFile::takeAttributes(const struct stat& model, bool takeOwner) {
    // The owner first: a change of owner may clear the set-user-ID bits. The
    // process may not give a file away; it then stays the process's own.
    static const uid_t user = ::geteuid();
    static const gid_t group = ::getegid();
    if (takeOwner && (model.st_uid != user || model.st_gid != group))
        m_posix->fchown(m_fd.get(), model.st_uid, model.st_gid);
    return m_posix->fchmod(m_fd.get(), model.st_mode & 07777) == 0 ? 0 : errno;
}

int PendingFile::rename() {
    if (m_posix->rename(m_path.c_str(), m_target.c_str()) != 0) return errno;
    m_committed = true;
    return 0;
}

int PendingFile::commit(int folderFd) {
    if (m_posix->fsync(m_fd.get()) != 0) return errno;
    if (m_posix->rename(m_path.c_str(), m_target.c_str()) != 0) return errno;
    m_committed = true;
    // The rename cannot be undone any more, yet it is on disk only once the
    // folder is: a failed sync is reported all the same, so that no caller
    // takes the new file for durable (a move across file systems would delete
    // its source).
    if (folderFd >= 0) return m_posix->fsync(folderFd) == 0 ? 0 : errno;
    return syncFolder(*m_posix, splitPath(m_target).first);
}

std::optional<FileError> FileOps::setNormal(const std::string& path) const {
    struct stat st {};
    if (m_posix.stat(path.c_str(), &st) != 0) return fileErrorFromErrno(errno);
    if (!isReadOnly(st)) return std::nullopt;
    if (m_posix.chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0)
        return fileErrorFromErrno(errno);
    return std::nullopt;
}

std::optional<FileError> FileOps::checkTarget(const std::string& from, const struct stat& source,
                                              const std::string& to, struct stat& existing,
                                              bool& replacing) const {
    if (!S_ISREG(source.st_mode)) return fileErrorFromErrno(EISDIR);
    replacing = m_posix.stat(to.c_str(), &existing) == 0;
    if (!replacing && errno != ENOENT) return fileErrorFromErrno(errno);
    if (!replacing) return std::nullopt;
    if (S_ISDIR(existing.st_mode)) return fileErrorFromErrno(EISDIR);
    if (isReadOnly(existing)) return fileErrorFromErrno(EACCES);
    if (from != to && existing.st_dev == source.st_dev && existing.st_ino == source.st_ino)
        return fileError(kSameFile);
    return std::nullopt;
}

std::optional<FileError> FileOps::copyReplacing(const std::string& from,
                                                const std::string& to) const {
    Fd in(m_posix, m_posix.open(from.c_str(), O_RDONLY, 0));
    if (!in.valid()) return fileErrorFromErrno(errno);
    struct stat source {};
    if (m_posix.fstat(in.get(), &source) != 0) return fileErrorFromErrno(errno);
    struct stat existing {};
    bool replacing = false;
    if (auto error = checkTarget(from, source, to, existing, replacing)) return error;

    std::optional<PendingFile> pending;
    if (int err = PendingFile::create(m_posix, splitPath(to).first, to, pending); err != 0)
        return err == ENOENT ? pathNotFound() : fileErrorFromErrno(err);
    if (int err = copyRange(m_posix, in.get(), 0, pending->fd(), 0, source.st_size,
                            sharingBlockSize(source));
        err != 0)
        return fileErrorFromErrno(err);
    if (int err = pending->takeAttributes(replacing ? existing : source, replacing); err != 0)
        return fileErrorFromErrno(err);
    if (int err = pending->commit(); err != 0) return fileErrorFromErrno(err);
    return std::nullopt;
}

std::optional<FileError> FileOps::moveReplacing(const std::string& from,
                                                const std::string& to) const {
    struct stat source {};
    if (m_posix.lstat(from.c_str(), &source) != 0) return fileErrorFromErrno(errno);
    // A link would point elsewhere from its new folder: what it leads to is
    // copied, and the link deleted.
    if (S_ISLNK(source.st_mode)) {
        if (auto error = copyReplacing(from, to)) return error;
        return deleteFile(from);
    }
    struct stat existing {};
    bool replacing = false;
    if (auto error = checkTarget(from, source, to, existing, replacing)) return error;

    // Only a move within one file system is a rename.
    dev_t targetDevice = existing.st_dev;
    if (!replacing) {
        struct stat folder {};
        if (m_posix.stat(folderToOpen(splitPath(to).first).c_str(), &folder) != 0)
            return errno == ENOENT ? pathNotFound() : fileErrorFromErrno(errno);
        targetDevice = folder.st_dev;
    }
    if (targetDevice != source.st_dev) {
        if (auto error = copyReplacing(from, to)) return error;
        return deleteFile(from);
    }
    // The file is given its new attributes just before the rename, so that it
    // never shows in the library without them. The rename is the one step that
    // can still fail after them: the source then gets its own back, and the
    // work folder keeps it exactly as it was.
    bool chowned = false, chmodded = false;
    const auto giveBack = [&](int err) {
        // The move's failure is what is reported; should even this fail, the
        // source keeps the replaced file's attributes, its content untouched.
        if (chowned) m_posix.chown(from.c_str(), source.st_uid, source.st_gid);
        if (chowned || chmodded) m_posix.chmod(from.c_str(), source.st_mode & 07777);
        return fileErrorFromErrno(err);
    };
    if (replacing) {
        // The process may not give a file away; it then stays the source's owner's.
        if (existing.st_uid != source.st_uid || existing.st_gid != source.st_gid)
            chowned = m_posix.chown(from.c_str(), existing.st_uid, existing.st_gid) == 0;
        // A change of owner may clear the set-user-ID bits: the mode goes after it.
        if (chowned || (existing.st_mode & 07777) != (source.st_mode & 07777)) {
            if (m_posix.chmod(from.c_str(), existing.st_mode & 07777) != 0) return giveBack(errno);
            chmodded = true;
        }
    }
    if (m_posix.rename(from.c_str(), to.c_str()) != 0) return giveBack(errno);
    return std::nullopt;
}

std::optional<FileError> FileOps::readAll(const std::string& path, std::size_t maxBytes,
                                          std::string& content) const {
    if (int err = readFile(m_posix, path, maxBytes, content); err != 0)
        return fileErrorFromErrno(err);
    return std::nullopt;
}

std::optional<FileError> FileOps::deleteFile(const std::string& path) const {
    struct stat st {};
    if (m_posix.stat(path.c_str(), &st) != 0) return fileErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode) || isReadOnly(st)) return fileErrorFromErrno(EBUSY);
    if (m_posix.unlink(path.c_str()) != 0) return fileErrorFromErrno(errno);
    return std::nullopt;
}

}  // namespace kestrom::platform
