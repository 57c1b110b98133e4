// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

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

// Leaves the files at paths (of one folder) as a run killed half-way through
// changing them leaves them: a child process writes patch in place into each
// (newLength: the file's length after it), as one batch, and dies after the
// bytes changed, before the change is on disk, so the files are changed and
// their folder's journal is not done.
inline void changeKilledHalfWay(const std::vector<std::string>& paths, const platform::Patch& patch,
                                off_t newLength) {
    const pid_t child = forkChild();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FaultyPosix dies;
        dies.beforeCall(Call::FlushFiles, 2, [] { ::_exit(0); });  // after the journal's
        std::vector<std::optional<platform::FileChange>> changes(paths.size());
        platform::ChangeBatch batch(dies);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            if (platform::FileChange::open(dies, paths[i], changes[i]) != 0 ||
                changes[i]->stageInPlace({&patch, 1}, newLength) != 0)
                ::_exit(1);
            batch.add(*changes[i]);
        }
        batch.commit();
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the change was not killed";
}

}  // namespace kestrom::test
