// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileOps.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/DirLookup.h"

namespace kestrom::platform {
namespace {

std::string temporaryName(std::string_view folder, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const auto now = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char name[64];
    std::snprintf(name, sizeof name, ".kestrom-%x-%llx-%x.tmp", static_cast<unsigned>(::getpid()),
                  (now ^ (now >> 29)) & 0xFFFFFFFFull, counter.fetch_add(1) + attempt);
    return std::string(folder) + name;
}

class Fd {
public:
    Fd(Posix& posix, int fd) : m_posix(posix), m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0) m_posix.close(m_fd);
    }
    int get() const { return m_fd; }

private:
    Posix& m_posix;
    int m_fd;
};

// Copies everything from in to out; returns 0 or the errno of the failure.
int copyContent(Posix& posix, int in, int out) {
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = posix.read(in, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                posix.write(out, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            if (put == 0) return EIO;
            done += put;
        }
    }
}

bool isReadOnly(const struct stat& st) {
    return (st.st_mode & S_IWUSR) == 0;
}

// Makes sure a rename reaches the disk; a failure here cannot undo the rename and
// only weakens the crash guarantee, so it is not reported.
void syncFolder(Posix& posix, std::string_view folder) {
    const std::string path = folder.empty() ? "." : std::string(folder);
    const int fd = posix.open(path.c_str(), O_RDONLY | O_DIRECTORY, 0);
    if (fd < 0) return;
    posix.fsync(fd);
    posix.close(fd);
}

}  // namespace

PendingFile::PendingFile(Posix& posix, std::string path, std::string target, int fd)
    : m_posix(&posix), m_path(std::move(path)), m_target(std::move(target)), m_fd(fd) {}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : m_posix(other.m_posix),
      m_path(std::move(other.m_path)),
      m_target(std::move(other.m_target)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_committed(std::exchange(other.m_committed, true)) {}

PendingFile::~PendingFile() {
    if (m_fd >= 0) m_posix->close(m_fd);
    if (!m_committed) m_posix->unlink(m_path.c_str());
}

std::optional<FileError> PendingFile::commit() {
    if (m_posix->fsync(m_fd) != 0) return fileErrorFromErrno(errno);
    const int fd = std::exchange(m_fd, -1);
    if (m_posix->close(fd) != 0) return fileErrorFromErrno(errno);
    if (m_posix->rename(m_path.c_str(), m_target.c_str()) != 0) return fileErrorFromErrno(errno);
    m_committed = true;
    syncFolder(*m_posix, splitPath(m_target).first);
    return std::nullopt;
}

std::optional<FileError> FileOps::setNormal(const std::string& path) const {
    struct stat st {};
    if (m_posix.stat(path.c_str(), &st) != 0) return fileErrorFromErrno(errno);
    if (!isReadOnly(st)) return std::nullopt;
    if (m_posix.chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) != 0)
        return fileErrorFromErrno(errno);
    return std::nullopt;
}

std::optional<FileError> FileOps::prepareReplacement(const std::string& from,
                                                     const std::string& target,
                                                     std::optional<PendingFile>& pending) const {
    pending.reset();
    Fd in(m_posix, m_posix.open(from.c_str(), O_RDONLY, 0));
    if (in.get() < 0) return fileErrorFromErrno(errno);
    struct stat source {};
    if (m_posix.fstat(in.get(), &source) != 0) return fileErrorFromErrno(errno);
    if (!S_ISREG(source.st_mode)) return fileErrorFromErrno(EISDIR);

    struct stat existing {};
    const bool replacing = m_posix.stat(target.c_str(), &existing) == 0;
    if (!replacing && errno != ENOENT) return fileErrorFromErrno(errno);
    if (replacing) {
        if (S_ISDIR(existing.st_mode)) return fileErrorFromErrno(EISDIR);
        if (isReadOnly(existing)) return fileErrorFromErrno(EACCES);
        if (from != target && existing.st_dev == source.st_dev && existing.st_ino == source.st_ino)
            return fileErrorFromErrno(EBUSY);
    }

    const std::string_view folder = splitPath(target).first;
    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; fd < 0; ++attempt) {
        temp = temporaryName(folder, attempt);
        fd = m_posix.open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0 && (errno != EEXIST || attempt == 100))
            return errno == ENOENT ? pathNotFound() : fileErrorFromErrno(errno);
    }
    PendingFile file(m_posix, temp, target, fd);
    if (int err = copyContent(m_posix, in.get(), fd); err != 0) return fileErrorFromErrno(err);
    // The new file belongs to the process, whoever owns the source: it takes the
    // target's owner where the process may, before the mode (a change of owner
    // may clear the set-user-ID and set-group-ID bits).
    struct stat made {};
    if (replacing && m_posix.fstat(fd, &made) == 0 &&
        (made.st_uid != existing.st_uid || made.st_gid != existing.st_gid))
        m_posix.fchown(fd, existing.st_uid, existing.st_gid);
    if (m_posix.fchmod(fd, source.st_mode & 07777) != 0) return fileErrorFromErrno(errno);
    pending.emplace(std::move(file));
    return std::nullopt;
}

std::optional<FileError> FileOps::copyReplacing(const std::string& from,
                                                const std::string& to) const {
    std::optional<PendingFile> pending;
    if (auto error = prepareReplacement(from, to, pending)) return error;
    return pending->commit();
}

std::optional<FileError> FileOps::readAll(const std::string& path, std::size_t maxBytes,
                                          std::string& content) const {
    content.clear();
    const Fd in(m_posix, m_posix.open(path.c_str(), O_RDONLY | O_CLOEXEC, 0));
    if (in.get() < 0) return fileErrorFromErrno(errno);
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const ssize_t got = m_posix.read(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return fileErrorFromErrno(errno);
        }
        if (got == 0) return std::nullopt;
        if (static_cast<std::size_t>(got) > maxBytes - content.size())
            return fileErrorFromErrno(EFBIG);
        content.append(buffer.data(), static_cast<std::size_t>(got));
    }
}

std::optional<FileError> FileOps::deleteFile(const std::string& path) const {
    struct stat st {};
    if (m_posix.stat(path.c_str(), &st) != 0) return fileErrorFromErrno(errno);
    if (S_ISDIR(st.st_mode) || isReadOnly(st)) return fileErrorFromErrno(EBUSY);
    if (m_posix.unlink(path.c_str()) != 0) return fileErrorFromErrno(errno);
    return std::nullopt;
}

}  // namespace kestrom::platform
