// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs with the stand-in tag library, whose "MP3 files" are text files
// (tests/binding/FakeTagLibrary.cpp): "A=title" lines, "FAIL" for an unreadable
// tag, "LOCKED" for one that cannot be written.
#include "engine/Run.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "RecordingWindow.h"
#include "engine/PairMove.h"
#include "engine/ReplaceInLibrary.h"
#include "engine/RunLock.h"
#include "platform/SharedLibrary.h"
#include "support/FaultyPosix.h"
#include "support/TempDir.h"
#ifndef _WIN32
#include "support/Fork.h"
#include "support/Unprivileged.h"
#endif

using namespace kestrom::engine;
using namespace kestrom::test;
using kestrom::binding::Vbmp3;

namespace {

// The reasons the tests give on Windows for what they cannot do there.
[[maybe_unused]] constexpr const char* kNoLinks =
    "makes symbolic links, which Windows allows only with a privilege";
[[maybe_unused]] constexpr const char* kNoFork = "needs a child process (fork) to kill";
[[maybe_unused]] constexpr const char* kNoTwins =
    "names that differ only in letter case cannot share a folder on Windows";

// Whether a tree, as writeTree takes it, holds two paths that differ only in
// letter case.
[[maybe_unused]] bool hasTwins(std::string_view tree) {
    std::set<std::string> seen;
    for (std::size_t end = 0, start = 0; start < tree.size(); start = end + 1) {
        end = std::min(tree.find(' ', start), tree.size());
        std::string path(tree.substr(start, tree.find(':', start) - start));
        std::transform(path.begin(), path.end(), path.begin(),
                       [](unsigned char b) { return static_cast<char>(std::tolower(b)); });
        if (!seen.insert(path.substr(path.starts_with('!') ? 1 : 0)).second) return true;
    }
    return false;
}

class RunTest : public ::testing::Test {
protected:
    // Runs over the folders (by default lib and work) with the replace box not
    // ticked; the window's log.
    std::string run(const std::string& libraryText, const std::string& workText) {
        RecordingWindow window(libraryText, workText);
        runTransfer(window, library, {.observer = &window}, posix);
        return window.log;
    }
    std::string run() { return run(dir / "lib", dir / "work"); }

    TempDir dir;
    kestrom::platform::Posix posix;
    Vbmp3 library{FAKE_TAG_LIBRARY};
};

// The trees before and after the run are written as writeTree takes them: in
// the tree after the run, "*" stands for a work file tagged from "A=new", "*K"
// for a karaoke copy tagged from it.
struct Case {
    const char *name, *before, *after;
    const char* message = "";  // the run's messages, a line each, with the folder's path left out
    Call fault = Call::Count;  // the call of this kind...
    int nth = 0;               // ...and number fails...
    int err = EIO;             // ...with this errno
    bool linked = false;       // work/Song.mp3 is made a hard link of lib/Pop/Song.mp3
    bool noLinks = false;      // the file system has no hard links (FAT)
};

// A case is shown by its name in the tests' names.
[[maybe_unused]] void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

// The system calls of FaultyPosix, on a file system that may have no hard links.
class MaybeWithoutLinks : public FaultyPosix {
public:
    bool links = true;
    int link(const char* from, const char* to) override {
        if (links) return FaultyPosix::link(from, to);
        errno = EPERM;
        return -1;
    }
};

const std::string kTagged = "A=new\nB=\nC=\nS=\nD=\nE=\nN=0\n";
const std::string kKaraokeTagged =
    "A=new\nB=\x83\x4A\x83\x89\x83\x49\x83\x50" + std::string(120, ' ') + "\nC=\nS=\nD=\nE=\nN=0\n";
const char* const kExists = "lib/Pop/Song.mp3:(58)ファイルは既に存在します。";
const char* const kFull = "lib/Pop/Song.mp3:(61)ディスクの空き容量が足りません。";
const char* const kReadOnly = "lib/Pop/Song.mp3:(70)書き込みできません。";

// A file's content as the trees above show it.
std::string shown(const std::string& content) {
    if (content == kTagged) return "*";
    return content == kKaraokeTagged ? "*K" : content.substr(0, content.find('\n'));
}

const Case kCases[] = {
    {"ReadOnlyMatchIsReplacedWithItsCompanion",
     "!lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:old work/Song.mp3: work/Song.txt:lyrics",
     "lib/Pop/Song.mp3:* lib/Pop/Song.txt:lyrics"},
    {"TheLibrarysOwnSpellingIsReplacedNotDoubled",
     "lib/Pop/SONG.MP3:A=new lib/Pop/SONG.TXT:old lib/Pop/TUNE.MP3:A=new lib/Pop/TUNE_K.MP3:old "
     "work/song.mp3: work/song.txt:lyrics work/Tune_K.mp3:",
     "lib/Pop/SONG.MP3:* lib/Pop/SONG.TXT:lyrics lib/Pop/TUNE.MP3:A=new lib/Pop/TUNE_K.MP3:*K"},
    // A companion new to the library follows the MP3 file's name as it arrives.
    {"CompanionTakesTheNameOfTheArrivingFile",
     "lib/Pop/upper.mp3:A=new work/UPPER.MP3: work/UPPER.txt:lyrics",
     "lib/Pop/upper.mp3:* lib/Pop/upper.txt:lyrics"},
    // A karaoke file's own text goes with it; the searched name's stays.
    {"KaraokeFileTakesItsOwnTextWhereThereIsOne",
     "lib/Pop/Song.mp3:A=new work/Song_K.mp3: work/Song_K.txt:own work/Song.txt:shared",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song_K.mp3:*K lib/Pop/Song_K.txt:own work/Song.txt:shared"},
    // Song_K_K.mp3 searches for Song_K.mp3, which the first karaoke copy put there.
    {"KaraokeCopyJoinsItsMatchWithATextOfItsOwn",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:theirs work/Song_K.mp3: work/Song_K_K.mp3: "
     "work/Song.txt:karaoke",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:theirs lib/Pop/Song_K.mp3:*K "
     "lib/Pop/Song_K.txt:karaoke lib/Pop/Song_K_K.mp3:*K"},
    // Song.mp3 and Song_K.mp3 share Song.txt: it leaves the work folder with its
    // last user, or stays while a user stays.
    {"SharedCompanionLeavesWithItsLastUser",
     "lib/Pop/Song.mp3:A=new work/Song.mp3: work/Song_K.mp3: work/Song.txt:text",
     "lib/Pop/Song.mp3:* lib/Pop/Song.txt:text lib/Pop/Song_K.mp3:*K lib/Pop/Song_K.txt:text"},
    {"SharedCompanionStaysWithAUserThatStays",
     "lib/Pop/Song.mp3:A=new work/Song.mp3:LOCKED work/Song_K.mp3: work/Song.txt:text",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song_K.mp3:*K lib/Pop/Song_K.txt:text work/Song.mp3:LOCKED "
     "work/Song.txt:text"},
    // Two work files that differ only in letter case both match one library file:
    // the first that is tagged moves, the other stays, tagged, with its companion.
    {"TwinsNeverReplaceEachOther", "lib/Pop/Song.mp3:A=new work/SONG.mp3: work/song.mp3:",
     "lib/Pop/Song.mp3:* work/song.mp3:*", kExists},
    {"TwinsWithCompanionsNeverReplaceEachOther",
     "lib/Pop/Song.mp3:A=new work/SONG.mp3: work/SONG.txt:1 work/song.mp3: work/song.txt:2",
     "lib/Pop/Song.mp3:* lib/Pop/Song.txt:1 work/song.mp3:* work/song.txt:2", kExists},
    {"KaraokeTwinsSharingATextNeverReplaceEachOther",
     "lib/Pop/Song.mp3:A=new work/Song.txt:1 work/Song_K.mp3: work/song_k.mp3:",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song_K.mp3:*K lib/Pop/Song_K.txt:1 work/Song.txt:1 "
     "work/song_k.mp3:*K",
     kExists},
    {"TheSecondTwinMovesWhenTheFirstCannotBeTagged",
     "lib/Pop/Song.mp3:A=new work/SONG.mp3:LOCKED work/song.mp3:",
     "lib/Pop/Song.mp3:* work/SONG.mp3:LOCKED"},
    {"TheSecondTwinMovesWhenTheFirstCannotMove",
     "lib/Pop/Song.mp3:A=new work/SONG.mp3: work/song.mp3:", "lib/Pop/Song.mp3:* work/SONG.mp3:*",
     "lib/Pop/Song.mp3:(57)デバイスの入出力エラーです。", Call::Rename, 1},
    // Song.mp3's move fails after its copy of the shared text arrived: the text
    // stays in the work folder for it, and Song_K.mp3 takes a copy.
    {"SharedCompanionStaysWhenItsFirstUserCannotMove",
     "lib/Pop/Song.mp3:A=new work/Song.mp3: work/Song_K.mp3: work/Song.txt:text",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song_K.mp3:*K lib/Pop/Song_K.txt:text work/Song.mp3:* "
     "work/Song.txt:text",
     "lib/Pop/Song.mp3:(57)デバイスの入出力エラーです。", Call::Rename, 2},
    // The companion moves first, over the library's own, which stays linked
    // aside until the MP3 file is in place. When a step fails, the library's
    // files are as they were and the work folder keeps both: a read-only text in
    // the library (its state is not cleared), a full disk, a target that cannot
    // be replaced (the folder's sticky bit keeps another user's file), a work
    // file that is a hard link of its target (the tag has reached both names).
    // A file system without hard links gets a copy aside instead.
    {"FailedCompanionMoveKeepsTheFileInTheWorkFolder",
     "lib/Pop/Song.mp3:A=new !lib/Pop/Song.txt:kept work/Song.mp3: work/Song.txt:",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:kept work/Song.mp3:* work/Song.txt:", kReadOnly},
    {"FailedMoveOfTheMp3FileBringsTheOldCompanionBack",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:old work/Song.mp3: work/Song.txt:text",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:old work/Song.mp3:* work/Song.txt:text", kFull,
     Call::Rename, 2, ENOSPC},
    {"FailedMoveOfTheMp3FileTakesTheNewCompanionOut",
     "!lib/Pop/Song.mp3:A=new work/Song.mp3: work/Song.txt:text",
     "lib/Pop/Song.mp3:A=new work/Song.mp3:* work/Song.txt:text", kReadOnly, Call::Rename, 2,
     EPERM},
    {"WithoutHardLinksTheOldCompanionIsCopiedAside",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:old work/Song.mp3: work/Song.txt:text",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:old work/Song.mp3:* work/Song.txt:text", kFull,
     Call::Rename, 3, ENOSPC, false, true},
    {"WorkFileLinkedToItsTargetKeepsItsCompanion",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:old work/Song.txt:text",
     "lib/Pop/Song.mp3:* lib/Pop/Song.txt:old work/Song.mp3:* work/Song.txt:text",
     "lib/Pop/Song.mp3:(81)移動先は移動元のファイルそのものです。", Call::Count, 0, EIO, true},
    // The run's changes are on disk when it ends, or a message names each folder
    // whose sync failed: those of the file system whose flush failed.
    {"AFailedSyncOfAFolderIsReported",
     "lib/Pop/Song.mp3:A=new work/Song.mp3:", "lib/Pop/Song.mp3:*",
     "lib/Popのフォルダの変更をディスクに書き込めません:(57)デバイスの入出力エラーです。\n"
     "workのフォルダの変更をディスクに書き込めません:(57)デバイスの入出力エラーです。",
     Call::FlushFiles, 1},
    // Work names written decomposed, as a Mac writes them, in other letter case:
    // each replaces its composed match and companion under the stored names, a
    // karaoke copy (か + U+3099 is が) joins its match under its own name.
    {"DecomposedNamesReplaceTheirComposedMatches",
     "lib/Pop/Café.mp3:A=new lib/Pop/Café.txt:old lib/Pop/が.mp3:A=new work/CAFE\u0301.mp3: "
     "work/café.txt:lyrics work/か\u3099_K.mp3:",
     "lib/Pop/Café.mp3:* lib/Pop/Café.txt:lyrics lib/Pop/か\u3099_K.mp3:*K lib/Pop/が.mp3:A=new"},
};

}  // namespace

// The folder texts come with blanks around them, which every path of the run
// leaves out. A field the library file does not name keeps what the file before
// put there, the karaoke mark "カラオケ" (filled with blanks) too. Not found
// (also where a link in the library leads to the work folder, which is no part
// of the library), an unreadable library tag, a tag that cannot be written:
// each NG file has its line in the error list, which a second run starts afresh.
TEST_F(RunTest, TagsTheFilesAndListsEveryFailedOneAfresh) {
#ifdef _WIN32
    GTEST_SKIP() << kNoLinks;
#else
    writeTree(dir.path(),
              "lib/Alpha.mp3:A=Alpha\nB=Singer\nN=13 lib/Bad.mp3:FAIL lib/Beta.mp3:A=Beta "
              "lib/Delta.mp3:A=Delta lib/Locked.mp3:A=x work/Alpha.mp3: work/Bad.mp3:untouched "
              "work/Beta_K.mp3: work/Delta.mp3: work/Locked_K.mp3:LOCKED work/lost.MP3: "
              "work/Self.mp3:A=itself");
    ASSERT_EQ(::symlink((dir / "work").c_str(), (dir / "lib/inbox").c_str()), 0);
    EXPECT_EQ(run("\xE3\x80\x80 " + (dir / "lib") + " ", " " + (dir / "work") + "\xE3\x80\x80"),
              "counter 0001 / 0000\ncounter 0001 / 0001\ncounter 0002 / 0001\ncounter 0003 / "
              "0001\ncounter 0003 / 0002\ncounter 0003 / 0003\ncounter 0003 / 0004\nfinish\nerrors "
              "Bad.mp3\r\nLocked_K.mp3\r\nlost.MP3\r\nSelf.mp3\r\n\n");
    const std::string karaoke = "B=\x83\x4A\x83\x89\x83\x49\x83\x50" + std::string(120, ' ');
    EXPECT_EQ(treeText(dir / "work"),
              "Alpha.mp3:A=Alpha\nB=Singer\nC=\nS=\nD=\nE=\nN=13 Bad.mp3:untouched "
              "Beta_K.mp3:A=Beta\n" +
                  karaoke + "\nC=\nS=\nD=\nE=\nN=13 Delta.mp3:A=Delta\n" + karaoke +
                  "\nC=\nS=\nD=\nE=\nN=13 Locked_K.mp3:LOCKED Self.mp3:A=itself lost.MP3:");
    writeFile(dir / "work/Two.mp3", "");
    run();
    EXPECT_EQ(ErrorListText, "Bad.mp3\r\nLocked_K.mp3\r\nlost.MP3\r\nSelf.mp3\r\nTwo.mp3\r\n");
#endif
}

// A work file that is a link to nothing fails as a write does, with the reason,
// before the tag library is called for it. A link to nothing in the library is
// no file, a link to a folder no work file.
TEST_F(RunTest, ALinkToNothingInTheWorkFolderIsCountedNgWithItsReason) {
#ifdef _WIN32
    GTEST_SKIP() << kNoLinks;
#else
    writeTree(dir.path(),
              "lib/Gone.mp3:A=x lib/Song.mp3:A=new work/Song.mp3: work/Tune.mp3: "
              "work/dir/x:");
    for (const auto& [link, target] : {std::pair{"work/Gone.mp3", "missing.mp3"},
                                       {"work/Dir.mp3", "dir"},
                                       {"lib/Tune.mp3", "nowhere"}})
        ASSERT_EQ(::symlink(target, (dir / link).c_str()), 0);
    // The library is loaded once in a process: this is the run's own copy.
    std::string reason;
    const auto calls = reinterpret_cast<const char* (*)()>(kestrom::platform::librarySymbol(
        kestrom::platform::loadLibrary(FAKE_TAG_LIBRARY, reason), "fake_calls"));
    ASSERT_NE(calls, nullptr) << reason;
    const std::size_t callsBefore = std::string_view(calls()).size();
    RecordingWindow window(dir / "lib", dir / "work", true);
    runTransfer(window, library, {.observer = &window}, posix);
    EXPECT_EQ(window.log,
              "counter 0000 / 0001\ncounter 0001 / 0001\ncounter 0001 / 0002\nfinish\nerrors "
              "Gone.mp3\r\nTune.mp3\r\n\n");
    ASSERT_EQ(window.reports.size(), 3u);
    const FileReport& gone = window.reports[0];
    EXPECT_EQ(std::tuple(gone.workName, gone.outcome, gone.error, gone.libraryPath),
              std::tuple("Gone.mp3", FileReport::Outcome::WriteFailed, ENOENT, ""));
    EXPECT_EQ(window.reports[2].outcome, FileReport::Outcome::NotFound);
    EXPECT_EQ(std::string(calls()).substr(callsBefore).find("Gone"), std::string::npos);
    EXPECT_EQ(readFile(dir / "lib/Song.mp3"), kTagged);
#endif
}

// A folder that cannot be read, as a user without privileges meets it: the
// library or work folder stops the run before any change, a library subfolder
// is left out with its name and the reason.
TEST_F(RunTest, UnreadableFoldersAreNamedWithTheReason) {
#ifdef _WIN32
    GTEST_SKIP() << "needs POSIX permissions and a user without privileges (chmod, setuid)";
#else
    const std::string reason =
        "のフォルダを読めません:(75)パスまたはファイルにアクセスできません。";
    ::chmod(dir.path().c_str(), 0777);  // the unprivileged run writes its events there
    writeTree(dir.path(), "lib/Song.mp3:A=x lib/sub/Tune.mp3:A=y work/Tune.mp3:");
    for (const auto& [locked, events] :
         {std::pair{dir / "lib", "message " + (dir / "lib") + reason + "\n"},
          {dir / "lib/sub", "skipped " + (dir / "lib/sub") + reason +
                                "\ncounter 0000 / 0001\nfinish\nerrors Tune.mp3\r\n\n"},
          {dir / "work", "message " + (dir / "work") + reason + "\n"}}) {
        ::chmod(locked.c_str(), 0);
        const int result = runUnprivileged([&] {
            writeFile(dir / "events", run());
            return 0;
        });
        ::chmod(locked.c_str(), 0755);
        if (result == kCannotDropPrivileges) GTEST_SKIP() << "cannot run as an unprivileged user";
        EXPECT_EQ(readFile(dir / "events"), events) << locked;
    }
#endif
}

TEST(CounterText, FourDigitsAtLeastAndAllDigitsBeyond) {
    EXPECT_EQ(counterText(12, 3), "0012 / 0003");
    EXPECT_EQ(counterText(9999, 10000), "9999 / 10000");
    EXPECT_EQ(counterText(32768, 0), "32768 / 0000");  // past the old 16-bit counters
}

// The library's write function goes missing after a file has already failed
// and another was read: the run stops, and the failure so far is still listed.
TEST_F(RunTest, MissingTagLibraryStopsTheRunWithAMessage) {
    writeTree(dir.path(), "lib/Song.mp3:A=x work/Lost.mp3: work/Song.mp3:before work/Tune.mp3:");
    Vbmp3 withoutWrite(FAKE_TAG_LIBRARY_NOWRITE);
    RecordingWindow window(dir / "lib", dir / "work");
    EXPECT_FALSE(runTransfer(window, withoutWrite, {}, posix).completed);
    EXPECT_EQ(window.log,
              "counter 0000 / 0001\nmessage タグライブラリを使えません（見つかりません: "
              "vbmp3_setTagInfo）\nfinish\nerrors Lost.mp3\r\n\n");
    EXPECT_EQ(readFile(dir / "work/Song.mp3"), "before\n");
}

// A killed run left two library files half-changed under their folder's
// journal, and a temporary file; another run's temporary file is in use. The
// next run rolls Song.mp3 back before it reads it, removes what is dead and
// leaves the rest. Gone.mp3 has left the journal's folder: the journal stays,
// and the run names it.
TEST_F(RunTest, ARunCleansUpAfterAKilledRunAndLeavesALivingOnesFilesAlone) {
#ifdef _WIN32
    GTEST_SKIP() << kNoFork;
#else
    writeTree(dir.path(),
              "lib/Song.mp3:A=old lib/Gone.mp3:A=old work/Song.mp3: work/.kestrom-1-2-3.tmp:dead "
              "work/.kestrom-4-5-6.tmp:alive");
    ASSERT_NO_FATAL_FAILURE(changeKilledHalfWay({dir / "lib/Song.mp3", dir / "lib/Gone.mp3"},
                                                {0, "A=bad", "A=old"}, 6));
    ASSERT_EQ(readFile(dir / "lib/Song.mp3") + readFile(dir / "lib/Gone.mp3"), "A=bad\nA=bad\n");
    std::filesystem::rename(dir / "lib/Gone.mp3", dir / "Gone.mp3");
    const int alive = ::open((dir / "work/.kestrom-4-5-6.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(alive, LOCK_EX), 0);
    const std::string journal(kestrom::platform::kJournalName);
    EXPECT_EQ(run(), "message " + dir / "lib/" + journal +
                         ":(53)ファイルが見つかりません。\ncounter 0001 / 0000\nfinish\n");
    EXPECT_EQ(treeText(dir.path(),
                       [](const std::string& c) {
                           return c.starts_with("KSTRJRNL") ? "journal" : c.substr(0, c.find('\n'));
                       }),
              "Gone.mp3:A=bad lib/" + journal +
                  ":journal lib/Song.mp3:A=old work/.kestrom-4-5-6.tmp:alive work/Song.mp3:A=old");
    ::close(alive);
#endif
}

// Runs over separate folders go on side by side; a run over folders that
// another run holds, inside them or around them, stops before it touches a file
// or the error list (as one with no work file does).
TEST_F(RunTest, ASecondRunOverTheSameFoldersStopsWithAMessage) {
    writeTree(dir.path(),
              "lib/Pop/x: work/Song.mp3: lib2/x: work2/x: outer/lib3/x: outer/work3/x:");
    RunLock held;
    ASSERT_EQ(held.acquire(posix, dir / "lib", dir / "work"), std::nullopt);
    ErrorListText = "from before\r\n";
    const std::string busy = " は別の Kestrom が使用中です";
    for (const auto& [libraryFolder, workFolder, message] :
         {std::tuple<std::string, std::string, std::string>{"lib", "work", dir / "lib" + busy},
          {"lib2", "work", dir / "work" + busy},
          {"lib/Pop", "work2", dir / "lib/Pop" + busy},
          {"outer/lib3", "outer/work3", "データね～じゃん(-_-ﾒ)"}})
        EXPECT_EQ(run(dir / libraryFolder, dir / workFolder), "message " + message + "\n");
    EXPECT_EQ(readFile(dir / "work/Song.mp3"), "");
    EXPECT_EQ(ErrorListText, "from before\r\n");
}

// Runs with the replace box ticked, each from one tree of files to another.
class ReplaceInLibrary : public ::testing::TestWithParam<Case> {};

TEST_P(ReplaceInLibrary, MovesTheTaggedFilesIntoTheLibrary) {
    const Case& c = GetParam();
#ifdef _WIN32
    if (hasTwins(c.before)) GTEST_SKIP() << kNoTwins;
#endif
    TempDir dir;
    writeTree(dir.path(), c.before);
    if (c.linked)
        kestrom::platform::systemPosix().link((dir / "lib/Pop/Song.mp3").c_str(),
                                              (dir / "work/Song.mp3").c_str());
    MaybeWithoutLinks posix;
    posix.links = !c.noLinks;
    posix.failAt(c.fault, c.nth, c.err);
    kestrom::binding::Vbmp3 library(FAKE_TAG_LIBRARY);
    RecordingWindow window(dir / "lib", dir / "work", true);
    runTransfer(window, library, {}, posix);
    std::string messages;  // a line for each of c.message's, in dir
    for (std::string_view rest = c.message; !rest.empty();) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        messages += dir / std::string(rest.substr(0, end)) + "\n";
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    EXPECT_EQ(window.messages, messages);
    EXPECT_EQ(treeText(dir.path(), shown), c.after);
}

INSTANTIATE_TEST_SUITE_P(Runs, ReplaceInLibrary, ::testing::ValuesIn(kCases),
                         [](const auto& c) { return std::string(c.param.name); });

// A run never puts two files that take one place in the library into one batch,
// nor two users of one text (the second searches for the first); should a
// batch hold them, the second twin moves after the rest, as it would have moved
// alone, rather than over the first, and a shared text leaves the work folder
// only with the last user that does.
TEST(LibraryReplacerTest, FilesOfABatchThatTakeOnePlaceOrShareATextMoveOneAfterTheOther) {
    const std::string twins = "work/SONG.mp3:SONG work/Song.txt:text work/song.mp3:song";
    const std::string users = "work/Song.mp3:plain work/Song.txt:text work/Song_K.mp3:karaoke";
    // Each row: the work folder, whether the first file's move fails (its MP3
    // file's rename, after its text's copy), the tree after, the numbers of the failures.
    for (const auto& [work, firstFails, after, failures] :
         {std::tuple<std::string, bool, std::string, std::string>{
              twins, false,
              "lib/Pop/Song.mp3:SONG lib/Pop/Song.txt:text work/Song.txt:text work/song.mp3:song",
              "58"},
          {twins, true,
           "lib/Pop/Song.mp3:song lib/Pop/Song.txt:text work/SONG.mp3:SONG work/Song.txt:text",
           "57"},
          {users, true,
           "lib/Pop/Song.mp3:A=old lib/Pop/Song_K.mp3:karaoke lib/Pop/Song_K.txt:text "
           "work/Song.mp3:plain work/Song.txt:text",
           "57"}}) {
#ifdef _WIN32
        if (work == twins) continue;  // no twins on Windows
#endif
        TempDir dir;
        writeTree(dir.path(), "lib/Pop/Song.mp3:A=old " + work);
        FaultyPosix posix;
        if (firstFails) posix.failAt(Call::Rename, 2, EIO);
        kestrom::platform::DirLookup lookup(posix);
        RunState state;
        state.libraryText = dir / "lib";
        state.workText = dir / "work";
        state.library = scanLibrary(state.libraryText, lookup);
        state.work = listWorkFolder(state.workText, lookup);
        ASSERT_EQ(state.work.FileCount(), 2u);
        std::vector<Transfer> transfers(2);
        for (Transfer& transfer : transfers) {
            transfer.outcome = Transfer::Outcome::Ok;
            transfer.folder = 1;  // lib/Pop
            transfer.foundName = "Song.mp3";
        }
        LibraryReplacer replacer(state, posix, lookup);
        std::string failed;
        for (const auto& message : replacer.replaceBatch(0, transfers))
            failed += message ? message->substr(message->find('(') + 1, 2) : "";
        EXPECT_EQ(failed, failures) << work;
        EXPECT_EQ(treeText(dir.path()), after) << work;
    }
}

namespace {

// The pairs of the runs below: the work file and its companion, the names they
// take in the library folder Pop, what it held under them before (null:
// nothing), and what the companion says. Song.txt replaces a companion,
// Tune.txt none; Zone.txt is copied for Zone.mp3 and moved for Zone_K.mp3
// (which comes last: its karaoke mark stays in the tag record for the files
// after it).
struct Pair {
    const char *work, *text, *mp3, *libText, *oldMp3, *oldText, *words;
};
const Pair kPairs[] = {
    {"Song.mp3", "Song.txt", "Song.mp3", "Song.txt", "A=new", "old", "song"},
    {"Tune.mp3", "Tune.txt", "Tune.mp3", "Tune.txt", "A=new", nullptr, "tune"},
    {"Zone.mp3", "Zone.txt", "Zone.mp3", "Zone.txt", "A=new", "theirs", "zone"},
    {"Zone_K.mp3", "Zone.txt", "Zone_K.mp3", "Zone_K.txt", nullptr, nullptr, "zone"}};

std::string trees(const std::string& lib, const std::string& work) {
    return treeText(lib, shown) + "\n" + treeText(work, shown);
}

// The trees as trees() shows them when every pair is new where the library
// holds its tagged file, and else old, with its work files (tagged or not) in
// the work folder.
std::string pairTrees(const std::string& lib, const std::string& work) {
    std::map<std::string, std::string> inLib, inWork;
    for (const Pair& p : kPairs) {
        const std::string tagged = std::string_view(p.work).ends_with("_K.mp3") ? "*K" : "*";
        const std::string mp3 = lib + "/Pop/" + p.mp3, workFile = work + "/" + p.work;
        if (exists(mp3) && shown(readFile(mp3)) == tagged) {
            inLib["Pop/" + std::string(p.mp3)] = tagged;
            inLib["Pop/" + std::string(p.libText)] = p.words;
            continue;
        }
        if (p.oldMp3 != nullptr) inLib["Pop/" + std::string(p.mp3)] = p.oldMp3;
        if (p.oldText != nullptr) inLib["Pop/" + std::string(p.libText)] = p.oldText;
        inWork[p.work] = exists(workFile) && shown(readFile(workFile)) == tagged ? tagged : "";
        inWork[p.text] = p.words;
    }
    const auto line = [](const std::map<std::string, std::string>& files) {
        std::string text;
        for (const auto& [path, content] : files)
            text.append(text.empty() ? "" : " ").append(path).append(":").append(content);
        return text;
    };
    return line(inLib) + "\n" + line(inWork);
}

// The run's window, which checks the pairs when it is asked whether to move
// the first file: the clean-up is done then, the file tagged, nothing moved.
class CheckingWindow : public RecordingWindow {
public:
    CheckingWindow(const std::string& lib, const std::string& work)
        : RecordingWindow(lib, work, true), m_lib(lib), m_work(work) {}
    bool replaceFlag() override {
        if (!checked) {
            EXPECT_EQ(trees(m_lib, m_work), pairTrees(m_lib, m_work)) << "cleaned up";
        }
        checked = true;
        return true;
    }
    bool checked = false;

private:
    std::string m_lib, m_work;
};

void replace(RecordingWindow& window, kestrom::platform::Posix& posix) {
    Vbmp3 library(FAKE_TAG_LIBRARY);
    runTransfer(window, library, {}, posix);
}

}  // namespace

// A fault at any call of a run, or a kill before any call that changes a file
// (between them a kill leaves the same files), over a library on the work
// folder's file system or on another: each pair is then in the library old
// with its work files in the work folder, or new, byte for byte, and nothing
// hidden is left (but a record or aside link whose own removal failed). So it
// is once the next run has cleaned up after a kill, and that run then moves
// every pair still to go. (The crash test rebuilds the crash states of one file
// system with real MP3 files and lost writes.) The folders are on /dev/shm
// where they can be: on a disk the test takes minutes. The parameters: across
// two file systems, killed rather than failed.
class PairMoveTest : public testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(PairMoveTest, AFaultOrAKillAtAnyCallLeavesEveryPairOldOrNew) {
    const auto [across, killed] = GetParam();
#ifdef _WIN32
    if (killed) GTEST_SKIP() << kNoFork;
#endif
    kestrom::platform::Posix& system = kestrom::platform::systemPosix();
    struct stat shm {};
    struct stat tmp {};
    const bool haveShm = system.stat("/dev/shm", &shm) == 0;
    if (across &&
        (!haveShm || system.stat(TempDir().path().c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev))
        GTEST_SKIP() << "/dev/shm is no other file system here";
    const std::vector<std::pair<bool, Call>> rounds =
        killed ? std::vector<std::pair<bool, Call>>{{true, Call::Open},
                                                    {true, Call::Pwrite},
                                                    {true, Call::Rename},
                                                    {true, Call::Unlink},
                                                    {true, Call::Link}}
               : std::vector<std::pair<bool, Call>>{{false, Call::Any}};
    for (const auto& [kill, kind] : rounds) {
        bool reached = true;
        for (int nth = 1; reached; ++nth) {
            SCOPED_TRACE(testing::Message() << (kill ? "killed before" : "fault at") << " call "
                                            << nth << " of kind " << int(kind));
            TempDir shared{haveShm ? "/dev/shm" : ""}, disk;
            const std::string lib = shared / "lib", work = (across ? disk : shared) / "work";
            writeTree(lib,
                      "Pop/Song.mp3:A=new Pop/Song.txt:old Pop/Tune.mp3:A=new "
                      "Pop/Zone.mp3:A=new Pop/Zone.txt:theirs");
            writeTree(work,
                      "Song.mp3: Song.txt:song Tune.mp3: Tune.txt:tune Zone.mp3: "
                      "Zone_K.mp3: Zone.txt:zone");
            FaultyPosix posix;
            posix.skipSyncs();
            RecordingWindow window(lib, work, true);
            if (kill) {
#ifndef _WIN32
                posix.beforeCall(kind, nth, [] { ::_exit(0); });
                const pid_t child = forkChild();
                ASSERT_GE(child, 0);
                if (child == 0) {
                    replace(window, posix);
                    ::_exit(1);
                }
                int status = 0;
                ASSERT_EQ(::waitpid(child, &status, 0), child);
                reached = WEXITSTATUS(status) == 0;
#endif
            } else {
                posix.failAt(kind, nth, EIO);
                replace(window, posix);
                reached = posix.failed() != Call::Count;
                if (posix.failed() != Call::Unlink) {
                    EXPECT_EQ(trees(lib, work), pairTrees(lib, work));
                }
            }
            FaultyPosix next;
            next.skipSyncs();
            CheckingWindow checking(lib, work);
            replace(checking, next);
            EXPECT_EQ(trees(lib, work),
                      "Pop/Song.mp3:* Pop/Song.txt:song Pop/Tune.mp3:* Pop/Tune.txt:tune "
                      "Pop/Zone.mp3:* Pop/Zone.txt:zone Pop/Zone_K.mp3:*K Pop/Zone_K.txt:zone\n");
            if (HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, PairMoveTest,
                         testing::Combine(testing::Bool(), testing::Bool()), [](const auto& p) {
                             return std::string(std::get<0>(p.param) ? "Two" : "One") +
                                    (std::get<1>(p.param) ? "Killed" : "Failed");
                         });

namespace {

// The run's messages in the window's language: Japanese as the program's own
// texts, English as the catalogues give it.
struct Spoken {
    const char *tree, *library, *work, *ja, *en;
    bool replace = false;
};

class RunMessages : public RunTest, public ::testing::WithParamInterface<Spoken> {};

TEST_P(RunMessages, FollowTheWindowsLanguage) {
    const Spoken& c = GetParam();
#ifdef _WIN32
    if (hasTwins(c.tree)) GTEST_SKIP() << kNoTwins;
#endif
    for (const auto& [language, expected] :
         {std::pair{&kestrom::platform::japanese(), c.ja}, {&kestrom::platform::english(), c.en}}) {
        for (const char* folder : {"lib", "work"}) std::filesystem::remove_all(dir / folder);
        writeTree(dir.path(), c.tree);
        RecordingWindow window(dir / c.library, dir / c.work, c.replace);
        window.speaks = language;
        runTransfer(window, library, {.observer = &window}, posix);
        std::string messages = window.messages;
        for (std::size_t at; (at = messages.find(dir.path())) != std::string::npos;)
            messages.replace(at, dir.path().size(), "~");
        EXPECT_EQ(messages, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RunTest, RunMessages,
    ::testing::Values(Spoken{"lib/x: work/x:", "lib", "lib/sub",
                             "指定パスの範囲が重複しています。\n", "The two folders overlap.\n"},
                      Spoken{"lib/x:", "lib", "none", "~/noneなんてフォルダはないよ\n",
                             "There is no folder ~/none\n"},
                      Spoken{"lib/x: work/x:", "lib", "work", "データね～じゃん(-_-ﾒ)\n",
                             "The work folder holds no MP3 file.\n"},
                      Spoken{"lib/Song.mp3:A=x work/Song.mp3: work/SONG.mp3:", "lib", "work",
                             "~/lib/Song.mp3:(58)ファイルは既に存在します。\n",
                             "~/lib/Song.mp3:(58)File already exists.\n", true}));

}  // namespace
