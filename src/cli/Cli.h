// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Posix.h"

namespace kestrom::cli {

// Exit statuses.
inline constexpr int kExitOk = 0;       // every work file done
inline constexpr int kExitFailed = 1;   // a file failed (NG, or its move), or a folder's sync
inline constexpr int kExitStopped = 2;  // the run stopped with a message, or its output was lost
inline constexpr int kExitUsage = 64;   // bad usage

struct Streams {
    std::FILE* out;      // the error list, a dry run's plan, --help, --version
    std::FILE* err;      // messages, the progress line, usage errors
    bool errIsTerminal;  // whether err shows a live progress line
};

// The whole of kestrom-cli: reads args (the arguments after the program name),
// runs the engine's run with the tag library at tagLibraryPath over the file
// system posix, and returns the exit status. Not owned: the streams, posix.
int runCli(const std::vector<std::string_view>& args, const Streams& streams,
           const std::string& tagLibraryPath, platform::Posix& posix);

// kestrom-cli as a program: runCli on the real system with the tag library the
// program finds, in the user's language. A failure that the run does not handle
// itself (memory exhausted, say) ends it as a stopped run, with its reason on
// standard error, rather than as an abort that a script cannot tell from a
// crash; on a terminal the message starts on a line of its own.
int runProgram(const std::vector<std::string_view>& args, bool terminal);

}  // namespace kestrom::cli
