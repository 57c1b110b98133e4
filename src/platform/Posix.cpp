// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

Posix& systemPosix() {
    static Posix real;
    return real;
}

}  // namespace kestrom::platform
