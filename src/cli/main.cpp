// SPDX-License-Identifier: GPL-3.0-or-later
// kestrom-cli: the tag transfer run without windows, for scripts, servers and
// scheduled jobs. It finds its tag library as the windowed program does: beside
// itself in the build folder, in its private folder when installed.
#include <unistd.h>

#include <csignal>
#include <string_view>
#include <vector>

#include "cli/Cli.h"

int main(int argc, char** argv) {
    // A write past the file size limit then fails that file instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return kestrom::cli::runProgram(args, ::isatty(STDERR_FILENO) == 1);
}
