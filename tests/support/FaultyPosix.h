// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cerrno>
#include <functional>
#include <utility>

#include "platform/Posix.h"

namespace kestrom::test {

// The kinds of call, in the order of the overrides below.
// clang-format off
enum class Call { Open, Read, Pread, Pwrite, Ftruncate, CopyFileRange, Fstat, Stat, Lstat,
                  Chmod, Fchmod, Fchown, Chown, Flock, Rename, Unlink, Link, Access, Realpath, Fsync,
                  Fdatasync, FlushFiles, ListDirectory, ReadDirectory, Close, Any /* every call, whatever its kind */, Count };
// clang-format on

// The real system calls, except that one chosen call fails with a chosen errno:
// the fault seam for failures that cannot be caused on demand (root ignores
// permissions, disks rarely fill up when a test wants them to).
class FaultyPosix : public platform::Posix {
public:
    // The nth call (from 1) of kind `call` (Call::Any: of all calls) fails with err.
    void failAt(Call call, int nth, int err) {
        m_fail = {call, nth};
        m_failErrno = err;
    }
    // Runs action just before the nth call (from 1) of kind `call`: another
    // program changing a file at that very moment.
    void beforeCall(Call call, int nth, std::function<void()> action) {
        m_before = {call, nth};
        m_action = std::move(action);
    }
    // How many calls of a kind were made so far (Call::Any: all of them).
    int calls(Call call) const { return m_calls[static_cast<std::size_t>(call)]; }
    // The kind of the call that failed; Call::Count while none has.
    Call failed() const { return m_failed; }
    // Syncs succeed without waiting for the disk: a test that never loses power
    // needs no durability, and runs many times faster without it.
    void skipSyncs() { m_syncs = false; }

    // One line a call, which reads as the table it is.
#define KESTROM_FAULTY(kind, type, name, params, ...)             \
    type name params override {                                   \
        return fails(Call::kind) ? -1 : Posix::name(__VA_ARGS__); \
    }
    KESTROM_FAULTY(Open, int, open, (const char* p, int f, mode_t m), p, f, m)
    KESTROM_FAULTY(Read, ssize_t, read, (int fd, void* b, size_t n), fd, b, n)
    KESTROM_FAULTY(Pread, ssize_t, pread, (int fd, void* b, size_t n, off_t o), fd, b, n, o)
    KESTROM_FAULTY(Pwrite, ssize_t, pwrite, (int fd, const void* b, size_t n, off_t o), fd, b, n, o)
    KESTROM_FAULTY(Ftruncate, int, ftruncate, (int fd, off_t n), fd, n)
    KESTROM_FAULTY(CopyFileRange, ssize_t, copyFileRange,
                   (int i, off_t* io, int o, off_t* oo, size_t n), i, io, o, oo, n)
    KESTROM_FAULTY(Fstat, int, fstat, (int fd, struct stat* st), fd, st)
    KESTROM_FAULTY(Stat, int, stat, (const char* p, struct stat* st), p, st)
    KESTROM_FAULTY(Lstat, int, lstat, (const char* p, struct stat* st), p, st)
    KESTROM_FAULTY(Chmod, int, chmod, (const char* p, mode_t m), p, m)
    KESTROM_FAULTY(Fchmod, int, fchmod, (int fd, mode_t m), fd, m)
    KESTROM_FAULTY(Fchown, int, fchown, (int fd, uid_t u, gid_t g), fd, u, g)
    KESTROM_FAULTY(Chown, int, chown, (const char* p, uid_t u, gid_t g), p, u, g)
    KESTROM_FAULTY(Flock, int, flock, (int fd, int op), fd, op)
    KESTROM_FAULTY(Rename, int, rename, (const char* a, const char* b), a, b)
    KESTROM_FAULTY(Unlink, int, unlink, (const char* p), p)
    KESTROM_FAULTY(Link, int, link, (const char* a, const char* b), a, b)
    KESTROM_FAULTY(Access, int, access, (const char* p, int m), p, m)
    KESTROM_FAULTY(Realpath, int, realpath, (const char* p, std::string& r), p, r)
    KESTROM_FAULTY(ListDirectory, int, listDirectory,
                   (const char* p, std::vector<platform::DirEntry>& e), p, e)
    KESTROM_FAULTY(ReadDirectory, int, readDirectory,
                   (const char* p, std::vector<platform::ListedEntry>& e), p, e)
#undef KESTROM_FAULTY
    int fsync(int fd) override {
        if (fails(Call::Fsync)) return -1;
        return m_syncs ? Posix::fsync(fd) : 0;
    }
    int fdatasync(int fd) override {
        if (fails(Call::Fdatasync)) return -1;
        return m_syncs ? Posix::fdatasync(fd) : 0;
    }
    int flushFiles(std::span<const int> fds) override {
        if (fails(Call::FlushFiles)) return -1;
        return m_syncs ? Posix::flushFiles(fds) : 0;
    }
    // A failed close still releases the descriptor, as the real call does.
    int close(int fd) override {
        if (!fails(Call::Close)) return Posix::close(fd);
        Posix::close(fd);
        errno = m_failErrno;
        return -1;
    }

private:
    // Counts the call, runs the action due before it; true (with errno set) when
    // it is the one to fail.
    bool fails(Call call) {
        const std::pair<Call, int> nth{call, ++m_calls[static_cast<std::size_t>(call)]};
        const std::pair<Call, int> any{Call::Any, ++m_calls[static_cast<std::size_t>(Call::Any)]};
        if (m_action && (m_before == nth || m_before == any)) std::exchange(m_action, nullptr)();
        if (m_fail != nth && m_fail != any) return false;
        m_failed = call;
        errno = m_failErrno;
        return true;
    }

    std::array<int, static_cast<std::size_t>(Call::Count)> m_calls{};
    std::pair<Call, int> m_before{Call::Count, 0}, m_fail{Call::Count, 0};
    std::function<void()> m_action;
    int m_failErrno = 0;
    Call m_failed = Call::Count;
    bool m_syncs = true;
};

}  // namespace kestrom::test
