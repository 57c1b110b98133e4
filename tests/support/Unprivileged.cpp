// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/Fork.h"

namespace kestrom::test {

int runUnprivileged(const std::function<int()>& body) {
    const pid_t child = forkChild();  // a failed fork fails the test
    if (child == 0) {
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(kCannotDropPrivileges);
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace kestrom::test
