// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrom::cli {

// What the command line asks for: kestrom-cli [--replace] [--dry-run] LIBRARY WORK.
struct CommandLine {
    enum class Action { Run, Help, Version, BadUsage };
    Action action = Action::Run;
    bool replace = false;
    bool dryRun = false;
    std::string library;  // the two folder texts, as given
    std::string work;
    std::string problem;  // BadUsage: what is wrong, one line, in the user's language
};

// Reads the arguments that follow the program name. Options may stand before,
// between or after the two folders; "--" ends the options, so that a folder
// whose name starts with "-" can be named. --help (-h) and --version (-V) win
// as soon as they are met; an unknown option is bad usage.
CommandLine parseCommandLine(const std::vector<std::string_view>& args);

// The usage text, ending in a newline, in English: the catalogue's source.
extern const char* const kUsage;

}  // namespace kestrom::cli
