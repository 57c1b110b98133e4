// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>

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

    int open(const char* path, int flags, mode_t mode) override;
    ssize_t read(int fd, void* buffer, size_t count) override;
    ssize_t write(int fd, const void* buffer, size_t count) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int fstat(int fd, struct stat* st) override;
    int stat(const char* path, struct stat* st) override;
    int chmod(const char* path, mode_t mode) override;
    int fchmod(int fd, mode_t mode) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int rename(const char* from, const char* to) override;
    int unlink(const char* path) override;
    int listDirectory(const char* path, std::vector<platform::DirEntry>& entries) override;

private:
    // Counts the call; true (with errno set) when it is the one to fail.
    bool fails(Call call);

    std::array<int, static_cast<std::size_t>(Call::Count)> m_calls{};
    Call m_failCall = Call::Count;
    int m_failNth = 0;
    int m_failErrno = 0;
};

}  // namespace kestrom::test
