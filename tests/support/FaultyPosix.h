// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cerrno>

#include "platform/Posix.h"

namespace kestrom::test {

enum class Call {
    Open,
    Read,
    Write,
    Fsync,
    Close,
    Fstat,
    Stat,
    Chmod,
    Fchmod,
    Fchown,
    Rename,
    Unlink,
    ListDirectory,
    Realpath,
    Any,  // every call, whatever its kind
    Count
};

// The real system calls, except that one chosen call fails with a chosen errno:
// the fault seam for failures that cannot be caused on demand (root ignores
// permissions, disks rarely fill up when a test wants them to).
class FaultyPosix : public platform::Posix {
public:
    // The nth call (from 1) of kind `call` fails with err; every other call runs.
    void failAt(Call call, int nth, int err);
    // How many calls of a kind were made so far (Call::Any: all of them).
    int calls(Call call) const { return m_calls[static_cast<std::size_t>(call)]; }

    // clang-format off: one line a call reads as the table it is
    int open(const char* p, int flags, mode_t mode) override {
        return fails(Call::Open) ? -1 : Posix::open(p, flags, mode);
    }
    ssize_t read(int fd, void* b, size_t n) override {
        return fails(Call::Read) ? -1 : Posix::read(fd, b, n);
    }
    ssize_t write(int fd, const void* b, size_t n) override {
        return fails(Call::Write) ? -1 : Posix::write(fd, b, n);
    }
    int fsync(int fd) override { return fails(Call::Fsync) ? -1 : Posix::fsync(fd); }
    int close(int fd) override;
    int fstat(int fd, struct stat* st) override {
        return fails(Call::Fstat) ? -1 : Posix::fstat(fd, st);
    }
    int stat(const char* p, struct stat* st) override {
        return fails(Call::Stat) ? -1 : Posix::stat(p, st);
    }
    int chmod(const char* p, mode_t mode) override {
        return fails(Call::Chmod) ? -1 : Posix::chmod(p, mode);
    }
    int fchmod(int fd, mode_t mode) override {
        return fails(Call::Fchmod) ? -1 : Posix::fchmod(fd, mode);
    }
    int fchown(int fd, uid_t u, gid_t g) override {
        return fails(Call::Fchown) ? -1 : Posix::fchown(fd, u, g);
    }
    int rename(const char* a, const char* b) override {
        return fails(Call::Rename) ? -1 : Posix::rename(a, b);
    }
    int unlink(const char* p) override { return fails(Call::Unlink) ? -1 : Posix::unlink(p); }
    // clang-format on
    int listDirectory(const char* p, std::vector<platform::DirEntry>& e) override {
        return fails(Call::ListDirectory) ? errno : Posix::listDirectory(p, e);
    }
    int realpath(const char* p, std::string& resolved) override {
        return fails(Call::Realpath) ? -1 : Posix::realpath(p, resolved);
    }

private:
    // Counts the call; true (with errno set) when it is the one to fail.
    bool fails(Call call);

    std::array<int, static_cast<std::size_t>(Call::Count)> m_calls{};
    Call m_failCall = Call::Count;
    int m_failNth = 0;
    int m_failErrno = 0;
};

}  // namespace kestrom::test
