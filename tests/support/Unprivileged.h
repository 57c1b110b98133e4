// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace kestrom::test {

// Runs body in a child process that holds no privileges: as root the child
// becomes the user "nobody" (65534), so that file permissions bind it as they
// bind a user; otherwise it runs as the current user. Returns body's result, or
// kCannotDropPrivileges when the child could not give up root, -1 when it could
// not be started (the test then fails with fork's errno) or did not exit.
inline constexpr int kCannotDropPrivileges = 77;
int runUnprivileged(const std::function<int()>& body);

}  // namespace kestrom::test
