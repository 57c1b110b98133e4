// SPDX-License-Identifier: GPL-3.0-or-later
// kestrom-cli: the tag transfer run without windows, for scripts, servers and
// scheduled jobs. It finds its tag library as the windowed program does: beside
// itself in the build folder, in its private folder when installed.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>

#include "binding/Vbmp3.h"
#include "cli/Catalogue.h"
#include "cli/Cli.h"

int main(int argc, char** argv) {
    // A write past the file size limit then fails that file instead of killing the run.
    std::signal(SIGXFSZ, SIG_IGN);
    // A failure that the run does not handle itself (memory exhausted, the code
    // page converter missing) ends the program as a stopped run, with its reason,
    // rather than as an abort that a script cannot tell from a crash.
    // On a terminal the message starts on a line of its own, below any progress line.
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const char* lineStart = terminal ? "\n" : "";
    try {
        const std::vector<std::string_view> args(argv + 1, argv + argc);
        // The program's one way to the file system, handed to all that uses it.
        kestrom::platform::Posix& posix = kestrom::platform::systemPosix();
        kestrom::cli::openCatalogue(posix);
        return kestrom::cli::runCli(args, {stdout, stderr, terminal},
                                    kestrom::binding::findTagLibrary(posix), posix);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%skestrom-cli: %s\n", lineStart, error.what());
    } catch (...) {
        std::fprintf(stderr, "%skestrom-cli: %s\n", lineStart,
                     kestrom::cli::translate("stopped by an unknown failure").c_str());
    }
    return kestrom::cli::kExitStopped;
}
