// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace kestrom::test
