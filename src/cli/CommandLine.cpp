// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/CommandLine.h"

#include "cli/Catalogue.h"
#include "platform/Text.h"

namespace kestrom::cli {

const char* const kUsage =
    "Usage: kestrom-cli [--replace] [--dry-run] LIBRARY WORK\n"
    "\n"
    "Copies the tags of the MP3 files in the folder tree LIBRARY into the MP3 files\n"
    "of the same name in the folder WORK. A work file Song_K.mp3 takes the tag of\n"
    "Song.mp3, marked as karaoke.\n"
    "\n"
    "  --replace      move each tagged work file, with its .txt companion, into the\n"
    "                 library folder where its match was found\n"
    "  --dry-run      change nothing; print one line for each work file, four\n"
    "                 fields separated by tabs, empty where there is nothing to\n"
    "                 name: its name, what would happen (tag, tag+move, not-found,\n"
    "                 unreadable-tag, write-refused: the run would refuse to write\n"
    "                 the tag, for the reason given on standard error, or tag+clash:\n"
    "                 tagged but left in WORK, as an earlier file of the same name\n"
    "                 in another letter case takes its place in the library), the\n"
    "                 matched library file, the companion\n"
    "  -h, --help     print this text\n"
    "  -V, --version  print the version\n"
    "  --             end of options (for a folder whose name starts with \"-\")\n"
    "\n"
    "A work file keeps its audio byte for byte, and every frame of its ID3v2 tags\n"
    "but the six fields (converted to ID3v2.3 only as far as it requires); the\n"
    "fields go whole into an ID3v2.3 tag and cut to 30 bytes into an ID3v1 tag.\n"
    "A file that already holds them is not written. A\n"
    "new tag goes in place only into the old tags' real padding and only in a file\n"
    "with no other hard link; otherwise the file is made anew beside itself and\n"
    "renamed over it. A file and its companion move together or not at all.\n"
    "\n"
    "Messages and, on a terminal, a progress line go to standard error; the names\n"
    "of the work files that could not be tagged go to standard output.\n"
    "\n"
    "Exit status: 0 every file done, 1 at least one file failed or the run's\n"
    "changes may not be on disk (a folder could not be synced), 2 the run stopped\n"
    "with a message, 64 bad usage.\n";

CommandLine parseCommandLine(const std::vector<std::string_view>& args) {
    CommandLine line;
    std::vector<std::string_view> folders;
    bool optionsEnded = false;
    for (std::string_view arg : args) {
        // A lone "-" is an ordinary name, as it is for most tools.
        if (optionsEnded || !arg.starts_with("-") || arg == "-") {
            folders.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--replace") {
            line.replace = true;
        } else if (arg == "--dry-run") {
            line.dryRun = true;
        } else if (arg == "--help" || arg == "-h") {
            line.action = CommandLine::Action::Help;
            return line;
        } else if (arg == "--version" || arg == "-V") {
            line.action = CommandLine::Action::Version;
            return line;
        } else {
            line.action = CommandLine::Action::BadUsage;
            line.problem =
                platform::format(translate("unknown option %1"), {platform::displayName(arg)});
            return line;
        }
    }
    if (folders.size() != 2) {
        line.action = CommandLine::Action::BadUsage;
        line.problem = platform::format(
            translatePlural("expected the two folders LIBRARY and WORK, got %1 argument",
                            "expected the two folders LIBRARY and WORK, got %1 arguments",
                            folders.size()),
            {std::to_string(folders.size())});
        return line;
    }
    line.library = folders[0];
    line.work = folders[1];
    return line;
}

}  // namespace kestrom::cli
