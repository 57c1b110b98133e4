// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileChange.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <tuple>

#include "platform/SealedRecord.h"
#include "support/FaultyPosix.h"
#include "support/TempDir.h"

using namespace kestrom::platform;
using namespace kestrom::test;
namespace fs = std::filesystem;

namespace {

// A file whose "tag" lies at both ends of its "audio".
const std::string kOld = "OLDTAGaudioOLDEND";
const std::string kHalf = "NEWTAGaudioOLDEND";  // the head written, the tail not yet
const Patch kPatches[] = {{0, "NEWTAG", "OLDTAG"}, {11, "NEWEND", "OLDEND"}};

// Leaves path as a process killed half-way through changing it in place leaves
// it: the folder's journal on disk, the first region written, the second not.
void killHalfWay(const std::string& path) {
    if (::fork() == 0) {
        FaultyPosix dies;  // the journal is the first write, the regions the next two
        dies.beforeCall(Call::Pwrite, 3, [] { ::_exit(0); });
        std::optional<FileChange> change;
        FileChange::open(dies, path, change);
        change->writeInPlace(kPatches, 17);
        ::_exit(1);
    }
    int status = 0;
    ::wait(&status);
}

// The files in and below folder that are not hidden, "path:content" each, a blank apart.
std::string visibleFiles(const std::string& folder) {
    std::string text;
    for (const std::string& path : treeOf(folder)) {
        const fs::path file = fs::path(folder) / path;
        if (!file.filename().string().starts_with('.') && fs::is_regular_file(file))
            text.append(path).append(":").append(readFile(file)).append(" ");
    }
    return text;
}

// What happens to the half-changed Song.mp3 before the next run, which either
// cleans up the journal it finds in the folder or opens a file to change it.
struct AfterKill {
    const char* name;
    std::function<void(const TempDir&)> meanwhile;
    const char* opened;  // "": the journal is cleaned up as a leftover
    int error;           // of the clean-up or the opening
    const char* files;   // then
    bool journalKept;
};

void rename(const TempDir& dir, const char* from, const char* to) {
    fs::create_directories(fs::path(dir / to).parent_path());
    fs::rename(dir / from, dir / to);
}

const AfterKill kAfterKills[] = {
    {"Nothing", [](const TempDir&) {}, "", 0, "Song.mp3:OLDTAGaudioOLDEND ", false},
    {"RenamedInItsFolder", [](const TempDir& d) { rename(d, "Song.mp3", "Tune.mp3"); }, "", 0,
     "Tune.mp3:OLDTAGaudioOLDEND ", false},
    {"RenamedAndItsNameGivenToAnotherFile",
     [](const TempDir& d) {
         rename(d, "Song.mp3", "Tune.mp3");
         writeFile(d / "Song.mp3", "other");
     },
     "", 0, "Song.mp3:other Tune.mp3:OLDTAGaudioOLDEND ", false},
    {"OpenedThroughASecondName",
     [](const TempDir& d) { fs::create_hard_link(d / "Song.mp3", d / "Tune.mp3"); }, "Tune.mp3", 0,
     "Song.mp3:OLDTAGaudioOLDEND Tune.mp3:OLDTAGaudioOLDEND ", false},
    // Out of the journal's folder the file cannot be found: the journal stays,
    // and the clean-up says so; it is rolled back once it is back.
    {"MovedToAnotherFolder", [](const TempDir& d) { rename(d, "Song.mp3", "sub/Song.mp3"); }, "",
     ENOENT, "sub/Song.mp3:NEWTAGaudioOLDEND ", true},
    // Another program changed the file since (as a file that took over the inode
    // number of a removed one looks): it is not "rolled back" into a mix.
    {"ChangedSince", [](const TempDir& d) { writeFile(d / "Song.mp3", "XYZTAGaudioOLDEND"); }, "",
     ENOENT, "Song.mp3:XYZTAGaudioOLDEND ", true},
    {"ChangedSinceAndOpened",
     [](const TempDir& d) { writeFile(d / "Song.mp3", "XYZTAGaudioOLDEND"); }, "Song.mp3", 0,
     "Song.mp3:XYZTAGaudioOLDEND ", true},
    // A complete journal that this program cannot read stays.
    {"JournalOfAnotherVersion",
     [](const TempDir& d) {
         std::string journal = "KSTRJRNL";
         putNumber(journal, 99, 4);
         seal(journal);
         writeFile(d / std::string(kJournalName), journal);
     },
     "", EPROTO, "Song.mp3:NEWTAGaudioOLDEND ", true},
};

}  // namespace

// The journal that a killed change leaves is bound to the file, not to its
// name: the file is rolled back wherever in the journal's folder it is found, by
// its name or by its identity; a journal whose file is not found stays, and the
// clean-up reports it.
TEST(FileChange, AKilledChangeIsRolledBackWhereverItsFileIsFound) {
    for (const AfterKill& c : kAfterKills) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeFile(dir / "Song.mp3", kOld);
        killHalfWay(dir / "Song.mp3");
        ASSERT_EQ(readFile(dir / "Song.mp3"), kHalf);
        c.meanwhile(dir);
        Posix posix;
        std::optional<FileChange> change;
        EXPECT_EQ(*c.opened ? FileChange::open(posix, dir / c.opened, change)
                            : cleanUpLeftover(posix, dir.path() + "/", std::string(kJournalName)),
                  c.error);
        change.reset();
        EXPECT_EQ(visibleFiles(dir.path()), c.files);
        EXPECT_EQ(hiddenFiles(dir.path()), c.journalKept ? ".kestrom.journal " : "");
    }
}

// One FileChange makes one change: once it has written in place, replaced the
// file or failed, a further write fails with EBADF and touches nothing.
TEST(FileChange, MakesOneChangeAndRefusesEveryOtherAfterIt) {
    enum Step { InPlace, Rewrite, FailedInPlace };
    using State = FileChange::State;
    for (const auto& [first, state, content] :
         {std::tuple{InPlace, State::Changed, std::string("NEWTAGaudioNEWEND")},
          {Rewrite, State::Replaced, "HEADaudioTAIL"},
          {FailedInPlace, State::Failed, kOld}}) {
        for (const Step second : {InPlace, Rewrite}) {
            SCOPED_TRACE(testing::Message() << "step " << first << " then " << second);
            TempDir dir;
            writeFile(dir / "Song.mp3", kOld);
            FaultyPosix posix;
            posix.skipSyncs();
            std::optional<FileChange> change;
            ASSERT_EQ(FileChange::open(posix, dir / "Song.mp3", change), 0);
            if (first == FailedInPlace) posix.failAt(Call::Pwrite, 2, EIO);
            const auto step = [&](Step s) {
                return s == Rewrite ? change->rewrite("HEAD", 6, 11, "TAIL")
                                    : change->writeInPlace(kPatches, 17);
            };
            EXPECT_EQ(step(first), first == FailedInPlace ? EIO : 0);
            EXPECT_EQ(change->state(), state);
            EXPECT_EQ(step(second), EBADF);
            change.reset();
            EXPECT_EQ(readFile(dir / "Song.mp3"), content);
            EXPECT_EQ(hiddenFiles(dir.path()), "");
        }
    }
}
