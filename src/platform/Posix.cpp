// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace kestrom::platform {

int Posix::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags | O_CLOEXEC, mode);
}
ssize_t Posix::read(int fd, void* buffer, size_t count) {
    return ::read(fd, buffer, count);
}
ssize_t Posix::pread(int fd, void* buffer, size_t count, off_t offset) {
    return ::pread(fd, buffer, count, offset);
}
ssize_t Posix::pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    return ::pwrite(fd, buffer, count, offset);
}
int Posix::ftruncate(int fd, off_t length) {
    return ::ftruncate(fd, length);
}
ssize_t Posix::copyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t count) {
    return ::copy_file_range(in, inOffset, out, outOffset, count, 0);
}
int Posix::fsync(int fd) {
    return ::fsync(fd);
}

int Posix::fdatasync(int fd) {
    return ::fdatasync(fd);
}

int Posix::flushFiles(std::span<const int> fds) {
    return fds.empty() ? 0 : ::syncfs(fds.front());
}
int Posix::close(int fd) {
    return ::close(fd);
}
int Posix::fstat(int fd, struct stat* st) {
    return ::fstat(fd, st);
}
int Posix::stat(const char* path, struct stat* st) {
    return ::stat(path, st);
}
int Posix::lstat(const char* path, struct stat* st) {
    return ::lstat(path, st);
}
int Posix::chmod(const char* path, mode_t mode) {
    return ::chmod(path, mode);
}
int Posix::fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}
int Posix::fchown(int fd, uid_t owner, gid_t group) {
    return ::fchown(fd, owner, group);
}
int Posix::chown(const char* path, uid_t owner, gid_t group) {
    return ::chown(path, owner, group);
}
int Posix::flock(int fd, int operation) {
    return ::flock(fd, operation);
}
int Posix::rename(const char* from, const char* to) {
    return ::rename(from, to);
}
int Posix::unlink(const char* path) {
    return ::unlink(path);
}
int Posix::access(const char* path, int mode) {
    return ::access(path, mode);
}
int Posix::link(const char* from, const char* to) {
    return ::link(from, to);
}

int Posix::realpath(const char* path, std::string& resolved) {
    char* result = ::realpath(path, nullptr);
    if (result == nullptr) return -1;
    resolved = result;
    std::free(result);
    return 0;
}

int Posix::listDirectory(const char* path, std::vector<DirEntry>& entries) {
    DIR* dir = ::opendir(path);
    if (dir == nullptr) return -1;
    const int dirFd = ::dirfd(dir);
    entries.clear();
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent* d = ::readdir(dir);
        if (d == nullptr) {
            err = errno;
            break;
        }
        const std::string_view name = d->d_name;
        if (name == "." || name == "..") continue;
        if (d->d_type == DT_REG) {  // the common case needs no stat
            entries.push_back({std::string(name), EntryKind::File, 0, 0});
        } else if (struct stat st{}; ::fstatat(dirFd, d->d_name, &st, 0) == 0) {
            entries.push_back(entryFromStat(std::string(name), st));
        } else {
            // A link that leads nowhere, or an entry that cannot be looked at
            // (removed since the folder was read, say).
            const int followError = errno;
            const bool link =
                ::fstatat(dirFd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
            entries.push_back({std::string(name), link ? EntryKind::BrokenLink : EntryKind::Other,
                               0, 0, link ? followError : 0});
        }
    }
    ::closedir(dir);
    if (err == 0) return 0;
    errno = err;
    return -1;
}

int Posix::readDirectory(const char* path, std::vector<ListedEntry>& entries) {
    // open and getdents64 rather than opendir, which looks at the folder too.
    const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    entries.clear();
    // Room for a folder of a few hundred entries in one call.
    alignas(dirent64) std::array<char, 32768> buffer;
    int err = 0;
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer.data(), buffer.size());
        if (got <= 0) {
            err = got < 0 ? errno : 0;
            break;
        }
        for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
            // The record's fields are copied out: the buffer holds bytes, not objects.
            const char* record = buffer.data() + at;
            ino64_t inode = 0;
            unsigned short length = 0;
            unsigned char type = DT_UNKNOWN;
            std::memcpy(&inode, record + offsetof(dirent64, d_ino), sizeof inode);
            std::memcpy(&length, record + offsetof(dirent64, d_reclen), sizeof length);
            std::memcpy(&type, record + offsetof(dirent64, d_type), sizeof type);
            const std::string_view name(record + offsetof(dirent64, d_name));
            at += length;
            if (name == "." || name == "..") continue;
            ListedEntry entry{std::string(name), ListedEntry::Type::Other, 0};
            switch (type) {
                case DT_REG: entry.type = ListedEntry::Type::File; break;
                case DT_DIR:
                    entry.type = ListedEntry::Type::Directory;
                    entry.inode = static_cast<ino_t>(inode);
                    break;
                case DT_LNK:
                case DT_UNKNOWN: entry.type = ListedEntry::Type::Unknown; break;
                default: break;
            }
            entries.push_back(std::move(entry));
        }
    }
    ::close(fd);
    if (err == 0) return 0;
    errno = err;
    return -1;
}

Posix& systemPosix() {
    static Posix real;
    return real;
}

}  // namespace kestrom::platform
