// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FaultyPosix.h"

#include <unistd.h>

#include <cerrno>

namespace kestrom::test {

void FaultyPosix::failAt(Call call, int nth, int err) {
    m_failCall = call;
    m_failNth = nth;
    m_failErrno = err;
}

bool FaultyPosix::fails(Call call) {
    const int nth = ++m_calls[static_cast<std::size_t>(call)];
    const int any = ++m_calls[static_cast<std::size_t>(Call::Any)];
    if ((m_failCall == call && nth == m_failNth) || (m_failCall == Call::Any && any == m_failNth)) {
        errno = m_failErrno;
        return true;
    }
    return false;
}

int FaultyPosix::open(const char* path, int flags, mode_t mode) {
    return fails(Call::Open) ? -1 : Posix::open(path, flags, mode);
}
ssize_t FaultyPosix::read(int fd, void* buffer, size_t count) {
    return fails(Call::Read) ? -1 : Posix::read(fd, buffer, count);
}
ssize_t FaultyPosix::write(int fd, const void* buffer, size_t count) {
    return fails(Call::Write) ? -1 : Posix::write(fd, buffer, count);
}
int FaultyPosix::fsync(int fd) {
    return fails(Call::Fsync) ? -1 : Posix::fsync(fd);
}
int FaultyPosix::close(int fd) {
    // A failed close still releases the descriptor, as the real call does.
    if (fails(Call::Close)) {
        const int err = errno;
        Posix::close(fd);
        errno = err;
        return -1;
    }
    return Posix::close(fd);
}
int FaultyPosix::fstat(int fd, struct stat* st) {
    return fails(Call::Fstat) ? -1 : Posix::fstat(fd, st);
}
int FaultyPosix::stat(const char* path, struct stat* st) {
    return fails(Call::Stat) ? -1 : Posix::stat(path, st);
}
int FaultyPosix::chmod(const char* path, mode_t mode) {
    return fails(Call::Chmod) ? -1 : Posix::chmod(path, mode);
}
int FaultyPosix::fchmod(int fd, mode_t mode) {
    return fails(Call::Fchmod) ? -1 : Posix::fchmod(fd, mode);
}
int FaultyPosix::fchown(int fd, uid_t owner, gid_t group) {
    return fails(Call::Fchown) ? -1 : Posix::fchown(fd, owner, group);
}
int FaultyPosix::rename(const char* from, const char* to) {
    return fails(Call::Rename) ? -1 : Posix::rename(from, to);
}
int FaultyPosix::unlink(const char* path) {
    return fails(Call::Unlink) ? -1 : Posix::unlink(path);
}
int FaultyPosix::listDirectory(const char* path, std::vector<platform::DirEntry>& entries) {
    if (fails(Call::ListDirectory)) return errno;
    return Posix::listDirectory(path, entries);
}

}  // namespace kestrom::test
