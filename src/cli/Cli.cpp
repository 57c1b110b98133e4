// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/Cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "binding/Vbmp3.h"
#include "cli/Catalogue.h"
#include "cli/CommandLine.h"
#include "cli/TerminalWindow.h"
#include "engine/Run.h"

namespace kestrom::cli {

namespace {

// Runs the engine's run on the terminal; returns the exit status.
int runTransfer(const CommandLine& line, const Streams& streams, const std::string& tagLibraryPath,
                platform::Posix& posix) {
    const CatalogueLanguage language;
    TerminalWindow window({line.library, line.work, line.replace, line.dryRun}, streams.out,
                          streams.err, streams.errIsTerminal, language);
    binding::Vbmp3 tagLibrary(tagLibraryPath);
    engine::RunOptions options;
    options.dryRun = line.dryRun;
    options.observer = &window;
    const engine::RunSummary summary = engine::runTransfer(window, tagLibrary, options, posix);
    window.endProgressLine();

    if (!summary.completed) return kExitStopped;
    // A run whose changes may not be on disk has not done its job either.
    if (summary.NgCount > 0 || window.anyMoveFailed() || !summary.synced) return kExitFailed;
    return kExitOk;
}

}  // namespace

int runCli(const std::vector<std::string_view>& args, const Streams& streams,
           const std::string& tagLibraryPath, platform::Posix& posix) {
    const CommandLine line = parseCommandLine(args);
    int status = kExitOk;
    switch (line.action) {
        case CommandLine::Action::Help: std::fputs(translate(kUsage).c_str(), streams.out); break;
        case CommandLine::Action::Version:
            std::fputs("Kestrom " KESTROM_VERSION "\n", streams.out);
            break;
        case CommandLine::Action::BadUsage:
            std::fputs(("kestrom-cli: " + line.problem + "\n\n").c_str(), streams.err);
            std::fputs(translate(kUsage).c_str(), streams.err);
            return kExitUsage;
        case CommandLine::Action::Run:
            status = runTransfer(line, streams, tagLibraryPath, posix);
            break;
    }

    // A script reads the usage, the version, the error list or the plan from
    // standard output; if that could not be written (a full disk, a closed
    // pipe), the program must not look as if it had succeeded.
    if (std::fflush(streams.out) != 0 || std::ferror(streams.out) != 0) {
        const int error = errno;
        std::fputs(("kestrom-cli: " +
                    platform::format(translate("cannot write standard output: %1"),
                                     {std::strerror(error)}) +
                    "\n")
                       .c_str(),
                   streams.err);
        status = std::max(status, kExitStopped);
    }
    return status;
}

int runProgram(const std::vector<std::string_view>& args, bool terminal) {
    const char* lineStart = terminal ? "\n" : "";
    try {
        // The program's one way to the file system, handed to all that uses it.
        platform::Posix& posix = platform::systemPosix();
        openCatalogue(posix);
        return runCli(args, {stdout, stderr, terminal}, binding::findTagLibrary(posix), posix);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%skestrom-cli: %s\n", lineStart, error.what());
    } catch (...) {
        std::fprintf(stderr, "%skestrom-cli: %s\n", lineStart,
                     translate("stopped by an unknown failure").c_str());
    }
    return kExitStopped;
}

}  // namespace kestrom::cli
