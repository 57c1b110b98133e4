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

namespace {

// A batch of three files of one folder: A and B changed in place, C made anew.
struct Batch {
    const char* name;
    Call fault;  // Call::Count: none
    int nth;
    const char* files;   // then, "name:content " each
    const char* failed;  // the files whose change failed
    bool journalKept;    // the batch could not show its undo on disk
};

const Batch kBatches[] = {
    {"AllGoThrough", Call::Count, 0, "A:NEWTAGaudioNEWEND B:NEWTAGaudioNEWEND C:HEADaudioTAIL ", "",
     false},
    // B's write fails: B alone is undone and fails.
    // (C's copy takes the first two writes, the journal the third, A the next two.)
    {"OneWriteFails", Call::Pwrite, 6, "A:NEWTAGaudioNEWEND B:OLDTAGaudioOLDEND C:HEADaudioTAIL ",
     "B ", false},
    // The flush before the renames fails: nothing of the batch may be on disk,
    // so the whole batch is undone, and that undo flushed.
    {"TheFlushFails", Call::FlushFiles, 2,
     "A:OLDTAGaudioOLDEND B:OLDTAGaudioOLDEND C:OLDTAGaudioOLDEND ", "A B C ", false},
    // The undo cannot be shown on disk either: the journal stays to roll the
    // batch back at the next opening.
    {"TheFlushFailsTwice", Call::FlushFiles, 0,
     "A:OLDTAGaudioOLDEND B:OLDTAGaudioOLDEND C:OLDTAGaudioOLDEND ", "A B C ", true},
    // The journal cannot be put on disk: nothing is written.
    {"TheJournalFails", Call::FlushFiles, 1,
     "A:OLDTAGaudioOLDEND B:OLDTAGaudioOLDEND C:OLDTAGaudioOLDEND ", "A B C ", false},
};

// Fails every flush from the nth on.
class FlushFails : public FaultyPosix {
public:
    int flushFiles(std::span<const int> fds) override {
        if (++m_flushes >= m_from) {
            errno = EIO;
            return -1;
        }
        return FaultyPosix::flushFiles(fds);
    }
    int m_from = 1 << 30;

private:
    int m_flushes = 0;
};

}  // namespace

// A batch writes its files with two flushes of the file system and one sync of
// its journal (a flush too, where the journal is new); a change that fails
// is undone alone; a flush that fails undoes the whole batch. After a flush
// that fails twice the batch refuses every later commit and writes nothing.
TEST(ChangeBatch, CommitsManyFilesWithTwoFlushesAndUndoesWhatFails) {
    for (const Batch& c : kBatches) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const char* name : {"A", "B", "C"}) writeFile(dir / name, kOld);
        FlushFails posix;
        posix.skipSyncs();
        if (c.fault == Call::FlushFiles && c.nth == 0)
            posix.m_from = 2;  // after the journal's
        else if (c.fault != Call::Count)
            posix.failAt(c.fault, c.nth, EIO);
        std::string failed;
        {
            ChangeBatch batch(posix);
            std::optional<FileChange> changes[3];
            for (int i = 0; i < 3; ++i) {
                ASSERT_EQ(FileChange::open(posix, dir / std::string(1, char('A' + i)), changes[i]),
                          0);
                ASSERT_EQ(i < 2 ? changes[i]->stageInPlace(kPatches, 17)
                                : changes[i]->stageRewrite("HEAD", 6, 11, "TAIL"),
                          0);
                batch.add(*changes[i]);
            }
            const int result = batch.commit();
            for (int i = 0; i < 3; ++i) {
                if (changes[i]->error() == 0) continue;
                failed += std::string(1, char('A' + i)) + " ";
                EXPECT_EQ(changes[i]->state(), FileChange::State::Failed);
            }
            EXPECT_EQ(result, failed.empty() ? 0 : EIO);
            if (c.fault == Call::Count) {
                EXPECT_TRUE(posix.calls(Call::FlushFiles) == 3 &&
                            posix.calls(Call::Fdatasync) == 0 && posix.calls(Call::Fsync) == 0)
                    << posix.calls(Call::FlushFiles) << " " << posix.calls(Call::Fdatasync);
            }
            if (c.journalKept) {
                // A later commit writes nothing.
                changes[0].reset();
                std::optional<FileChange> later;
                ASSERT_EQ(FileChange::open(posix, dir / "A", later), 0);
                ASSERT_EQ(later->stageInPlace(kPatches, 17), 0);
                batch.add(*later);
                EXPECT_EQ(batch.commit(), EIO);
            }
        }
        EXPECT_EQ(failed, c.failed);
        EXPECT_EQ(visibleFiles(dir.path()), c.files);
        EXPECT_EQ(hiddenFiles(dir.path()), c.journalKept ? ".kestrom.journal " : "");
    }
}

// Beside the journal its batch holds, a file opens without a look for another
// (no batch can have left one there) and without opening the folder, which the
// batch has open; in a folder where it holds none, a
// batch that a crash left is rolled back first, as ever.
TEST(ChangeBatch, OpensFilesBesideItsOwnJournalWithoutLookingForAnother) {
    TempDir dir;
    for (const char* name : {"own/A", "own/B", "crashed/C"}) writeFile(dir / name, kOld);
    killHalfWay(dir / "crashed/C");
    FaultyPosix posix;
    posix.skipSyncs();
    {
        ChangeBatch batch(posix);
        constexpr auto kChange = FileChange::Purpose::Change;
        std::optional<FileChange> changes[3];
        ASSERT_EQ(FileChange::open(posix, dir / "own/A", changes[0], kChange, &batch), 0);
        ASSERT_EQ(changes[0]->stageInPlace(kPatches, 17), 0);
        batch.add(*changes[0]);
        ASSERT_EQ(batch.commit(), 0);
        ASSERT_TRUE(batch.holdsJournal(dir / "own/"));
        const int looks = posix.calls(Call::Lstat);
        const int opens = posix.calls(Call::Open);
        ASSERT_EQ(FileChange::open(posix, dir / "own/B", changes[1], kChange, &batch), 0);
        EXPECT_EQ(posix.calls(Call::Lstat), looks);
        EXPECT_EQ(posix.calls(Call::Open), opens + 1);  // the file alone: the batch has the folder
        ASSERT_EQ(FileChange::open(posix, dir / "crashed/C", changes[2], kChange, &batch), 0);
        EXPECT_EQ(readFile(dir / "crashed/C"), kOld);
        for (int i = 1; i < 3; ++i) {
            ASSERT_EQ(changes[i]->stageInPlace(kPatches, 17), 0);
            batch.add(*changes[i]);
        }
        EXPECT_EQ(batch.commit(), 0);
    }
    for (const char* name : {"own/A", "own/B", "crashed/C"})
        EXPECT_EQ(readFile(dir / name), "NEWTAGaudioNEWEND") << name;
    EXPECT_EQ(hiddenFiles(dir.path()), "");
}

// A journal marked done rolls nothing back; one cut short by a crash was never
// complete, so its files were not touched: both simply go.
TEST(ChangeBatch, AJournalDoneOrCutShortRollsNothingBack) {
    for (const char* magic : {"KSTRDONE", "KSTRJRNL"}) {
        TempDir dir;
        writeFile(dir / "Song.mp3", kOld);
        killHalfWay(dir / "Song.mp3");
        std::string journal = readFile(dir / ".kestrom.journal");
        journal.replace(0, 8, magic);
        if (std::string_view(magic) == "KSTRJRNL") journal.resize(journal.size() - 1);
        writeFile(dir / ".kestrom.journal", journal);
        Posix posix;
        EXPECT_EQ(cleanUpLeftover(posix, dir.path() + "/", ".kestrom.journal"), 0);
        EXPECT_EQ(visibleFiles(dir.path()), "Song.mp3:" + kHalf + " ") << magic;
        EXPECT_EQ(hiddenFiles(dir.path()), "");
    }
}
