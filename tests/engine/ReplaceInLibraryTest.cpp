// SPDX-License-Identifier: GPL-3.0-or-later
// Runs with the replace box ticked, each from one tree of files to another. The
// stand-in tag library's "MP3 files" are text files (tests/taglib/FakeTagLibrary.cpp):
// "A=new" names the title, "LOCKED" makes the write fail.
#include <gtest/gtest.h>

#include <cerrno>

#include "RecordingWindow.h"
#include "engine/Run.h"
#include "support/FaultyPosix.h"
#include "support/TempDir.h"

using namespace kestrom::test;

namespace {

// The trees before and after the run are written as writeTree takes them: in
// the tree after the run, "*" stands for a work file tagged from "A=new", "*K"
// for a karaoke copy tagged from it.
struct Case {
    const char *name, *before, *after;
    const char* message = "";  // the run's one message, with the folder's path left out
    Call fault = Call::Count;  // the call of this kind...
    int nth = 0;               // ...and number fails with EIO
};

const std::string kTagged = "A=new\nB=\nC=\nS=\nD=\nE=\nN=0\n";
const std::string kKaraokeTagged =
    "A=new\nB=\x83\x4A\x83\x89\x83\x49\x83\x50" + std::string(120, ' ') + "\nC=\nS=\nD=\nE=\nN=0\n";
const char* const kExists = "lib/Pop/Song.mp3:(58)ファイルは既に存在します。";
const char* const kIoError = "lib/Pop/Song.mp3:(57)デバイスの入出力エラーです。";

const Case kCases[] = {
    {"ReadOnlyMatchIsReplacedWithItsCompanion",
     "!lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:old work/Song.mp3: work/Song.txt:lyrics",
     "lib/Pop/Song.mp3:* lib/Pop/Song.txt:lyrics"},
    {"TheLibrarysOwnSpellingIsReplacedNotDoubled",
     "lib/Pop/SONG.MP3:A=new lib/Pop/SONG.TXT:old lib/Pop/TUNE.MP3:A=new lib/Pop/TUNE_K.MP3:old "
     "work/song.mp3: work/song.txt:lyrics work/Tune_K.mp3:",
     "lib/Pop/SONG.MP3:* lib/Pop/SONG.TXT:lyrics lib/Pop/TUNE.MP3:A=new lib/Pop/TUNE_K.MP3:*K"},
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
     "lib/Pop/SONG.txt:1 lib/Pop/Song.mp3:* work/song.mp3:* work/song.txt:2", kExists},
    {"KaraokeTwinsSharingATextNeverReplaceEachOther",
     "lib/Pop/Song.mp3:A=new work/Song.txt:1 work/Song_K.mp3: work/song_k.mp3:",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song_K.mp3:*K lib/Pop/Song_K.txt:1 work/Song.txt:1 "
     "work/song_k.mp3:*K",
     kExists},
    {"TheSecondTwinMovesWhenTheFirstCannotBeTagged",
     "lib/Pop/Song.mp3:A=new work/SONG.mp3:LOCKED work/song.mp3:",
     "lib/Pop/Song.mp3:* work/SONG.mp3:LOCKED"},
    // The companion moves first; a read-only text in the library (its state is
    // not cleared) fails its move, and the MP3 file stays in the work folder. A
    // failed move of the MP3 file leaves the companion where it went.
    {"FailedCompanionMoveKeepsTheFileInTheWorkFolder",
     "lib/Pop/Song.mp3:A=new !lib/Pop/Song.txt:kept work/Song.mp3: work/Song.txt:",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:kept work/Song.mp3:* work/Song.txt:",
     "lib/Pop/Song.mp3:(70)書き込みできません。"},
    {"FailedRenameOfTheMp3FileEndsTheMove",
     "lib/Pop/Song.mp3:A=new work/Song.mp3: work/Song.txt:text",
     "lib/Pop/Song.mp3:A=new lib/Pop/Song.txt:text work/Song.mp3:*", kIoError, Call::Rename, 2},
};

}  // namespace

TEST(ReplaceInLibrary, MovesTheTaggedFilesIntoTheLibrary) {
    const auto show = [](const std::string& content) {
        if (content == kTagged) return std::string("*");
        return content == kKaraokeTagged ? "*K" : content.substr(0, content.find('\n'));
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        writeTree(dir.path(), c.before);
        FaultyPosix posix;
        posix.failAt(c.fault, c.nth, EIO);
        kestrom::taglib::Vbmp3 library(FAKE_TAGLIB);
        RecordingWindow window(dir / "lib", dir / "work", true);
        kestrom::engine::runTransfer(window, library, {}, posix);
        EXPECT_EQ(window.messages, *c.message ? dir / c.message + "\n" : "");
        EXPECT_EQ(treeText(dir.path(), show), c.after);
    }
}
