// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "platform/FileChange.h"
#include "support/FaultyPosix.h"

namespace kestrom::test {

// fork() for a test. A fork that fails (no more processes for the user, no
// memory) fails the running test with its errno and returns -1; the caller then
// stops (ASSERT_GE(child, 0)) rather than wait for or signal the pid, since
// waitpid(-1) waits for any child and kill(-1) signals every process of the user.
inline pid_t forkChild() {
    const pid_t child = ::fork();
    if (child < 0) {
        const int error = errno;
        ADD_FAILURE() << "fork: " << std::strerror(error);
    }
    return child;
}

// Leaves path as a run killed half-way through changing it leaves it: a child
// process writes patch in place (newLength: the file's length after it) and dies
// after the first byte changed, before the change is on disk, so the file is
// half-changed beside its undo record.
inline void changeKilledHalfWay(const std::string& path, const platform::Patch& patch,
                                off_t newLength) {
    const pid_t child = forkChild();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FaultyPosix dies;
        dies.beforeCall(Call::Fsync, 3, [] { ::_exit(0); });
        std::optional<platform::FileChange> change;
        if (platform::FileChange::open(dies, path, change) == 0)
            change->writeInPlace({&patch, 1}, newLength);
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the change was not killed";
}

}  // namespace kestrom::test
