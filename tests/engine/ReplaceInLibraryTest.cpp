// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "RecordingWindow.h"
#include "engine/Run.h"
#include "support/FaultyPosix.h"
#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;
using kestrom::taglib::Vbmp3;

namespace {

class ReplaceTest : public ::testing::Test {
protected:
    RunSummary run() { return run(system); }
    RunSummary run(kestrom::platform::Posix& posix) {
        window = RecordingWindow(dir / "lib", dir / "work", true);
        return runTransfer(window, library, {}, posix);
    }
    std::string lib(std::string_view rel) const { return dir / ("lib/" + std::string(rel)); }
    std::string work(std::string_view rel) const { return dir / ("work/" + std::string(rel)); }
    std::vector<std::string> names(const std::string& folder) const {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            found.push_back(e.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    }

    TempDir dir;
    kestrom::platform::Posix system;
    Vbmp3 library{FAKE_TAGLIB};
    RecordingWindow window{"", ""};
};

const std::string kTagged = "A=new\nB=\nC=\nS=\nD=\nE=\nN=0\n";

}  // namespace

TEST_F(ReplaceTest, OrdinaryFileReplacesItsReadOnlyMatchWithItsCompanion) {
    writeFile(lib("Pop/Song.mp3"), "A=new\n");
    ::chmod(lib("Pop/Song.mp3").c_str(), 0444);
    writeFile(lib("Pop/Song.txt"), "old text");
    writeFile(work("Song.mp3"), "");
    writeFile(work("Song.txt"), "lyrics");
    EXPECT_EQ(run().OkCount, 1);
    EXPECT_TRUE(window.messages().empty());
    EXPECT_EQ(readFile(lib("Pop/Song.mp3")), kTagged);
    EXPECT_EQ(readFile(lib("Pop/Song.txt")), "lyrics");
    EXPECT_TRUE(names(work("")).empty());
}

TEST_F(ReplaceTest, TheLibrarysOwnSpellingIsReplacedNotDoubled) {
    writeFile(lib("Pop/SONG.MP3"), "A=new\n");
    writeFile(lib("Pop/SONG.TXT"), "old");
    writeFile(lib("Pop/TUNE.MP3"), "A=new\n");
    writeFile(lib("Pop/TUNE_K.MP3"), "old karaoke");
    writeFile(work("song.mp3"), "");
    writeFile(work("song.txt"), "lyrics");
    writeFile(work("Tune_K.mp3"), "");
    run();
    EXPECT_EQ(names(lib("Pop")),
              (std::vector<std::string>{"SONG.MP3", "SONG.TXT", "TUNE.MP3", "TUNE_K.MP3"}));
    EXPECT_EQ(readFile(lib("Pop/SONG.MP3")), kTagged);
    EXPECT_EQ(readFile(lib("Pop/SONG.TXT")), "lyrics");
    EXPECT_EQ(readFile(lib("Pop/TUNE_K.MP3")).substr(0, 6), "A=new\n");
    EXPECT_EQ(readFile(lib("Pop/TUNE.MP3")), "A=new\n");
}

// A karaoke copy joins its match under its own name, with a text of its own, and
// is found there by a later work file that searches for that name.
TEST_F(ReplaceTest, KaraokeCopyJoinsItsMatchWithATextOfItsOwn) {
    writeFile(lib("Pop/Song.mp3"), "A=new\n");
    writeFile(lib("Pop/Song.txt"), "the original's text");
    writeFile(work("Song_K.mp3"), "");
    writeFile(work("Song_K_K.mp3"), "");  // searched as Song_K.mp3
    writeFile(work("Song.txt"), "karaoke text");
    EXPECT_EQ(run().OkCount, 2);
    EXPECT_EQ(readFile(lib("Pop/Song.mp3")), "A=new\n");
    EXPECT_EQ(readFile(lib("Pop/Song.txt")), "the original's text");
    EXPECT_EQ(readFile(lib("Pop/Song_K.txt")), "karaoke text");
    EXPECT_EQ(names(lib("Pop")), (std::vector<std::string>{"Song.mp3", "Song.txt", "Song_K.mp3",
                                                           "Song_K.txt", "Song_K_K.mp3"}));
    EXPECT_TRUE(names(work("")).empty());
}

// Song.mp3 and Song_K.mp3 share Song.txt: both take it into the library, and it
// leaves the work folder with its last user, or stays while a user stays.
TEST_F(ReplaceTest, SharedCompanionLeavesWithItsLastUser) {
    for (const bool firstFails : {false, true}) {
        std::filesystem::remove_all(lib(""));
        writeFile(lib("Pop/Song.mp3"), "A=new\n");
        writeFile(work("Song.mp3"), firstFails ? "LOCKED\n" : "");  // a tag that cannot be written
        writeFile(work("Song_K.mp3"), "");
        writeFile(work("Song.txt"), "text");
        run();
        EXPECT_TRUE(window.messages().empty());
        EXPECT_EQ(readFile(lib("Pop/Song_K.txt")), "text");
        EXPECT_EQ(exists(lib("Pop/Song.txt")), !firstFails);
        const std::vector<std::string> stays{"Song.mp3", "Song.txt"};
        EXPECT_EQ(names(work("")), firstFails ? stays : std::vector<std::string>());
    }
}

// Two work files that differ only in letter case both match one library file.
// The first that is tagged moves; the other is never moved over it: it stays
// in the work folder, tagged, with its companion, and gets a message.
TEST_F(ReplaceTest, TwinsInTheWorkFolderNeverReplaceEachOther) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> work;  // name, content
        std::vector<std::string> library, workLeft;
        bool refused;
    };
    const Case cases[] = {
        {{{"SONG.mp3", ""}, {"song.mp3", ""}}, {"Song.mp3"}, {"song.mp3"}, true},
        {{{"SONG.mp3", ""}, {"SONG.txt", "1"}, {"song.mp3", ""}, {"song.txt", "2"}},
         {"SONG.txt", "Song.mp3"},
         {"song.mp3", "song.txt"},
         true},
        // The karaoke copies of one file, with the text they share.
        {{{"Song.txt", "1"}, {"Song_K.mp3", ""}, {"song_k.mp3", ""}},
         {"Song.mp3", "Song_K.mp3", "Song_K.txt"},
         {"Song.txt", "song_k.mp3"},
         true},
        // The first twin cannot be tagged, so the second is the first to move.
        {{{"SONG.mp3", "LOCKED\n"}, {"song.mp3", ""}}, {"Song.mp3"}, {"SONG.mp3"}, false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(lib(""));
        std::filesystem::remove_all(work(""));
        writeFile(lib("Pop/Song.mp3"), "A=new\n");
        for (const auto& [name, content] : c.work) writeFile(work(name), content);
        run();
        EXPECT_EQ(names(lib("Pop")), c.library);
        EXPECT_EQ(names(work("")), c.workLeft);
        EXPECT_EQ(window.messages(),
                  c.refused ? std::vector<std::string>{lib("Pop/Song.mp3") +
                                                       ":(58)ファイルは既に存在します。"}
                            : std::vector<std::string>{});
        const auto mp3 = std::find_if(c.workLeft.begin(), c.workLeft.end(),
                                      [](const std::string& n) { return n.ends_with(".mp3"); });
        EXPECT_EQ(readFile(work(*mp3)).substr(0, 6),
                  c.refused ? "A=new\n" : "LOCKED");  // tagged, unless it could not be
    }
}

// A read-only text in the library (its state is not cleared) fails the
// companion's move, which comes first: the MP3 file stays in the work folder,
// tagged. Each failed file gets its message and still counts OK.
TEST_F(ReplaceTest, FailedCompanionMoveIsReportedUnderTheMatchedFile) {
    for (const char* name : {"Song", "Tune"}) {
        writeFile(lib("Pop/" + std::string(name) + ".mp3"), "A=new\n");
        writeFile(lib("Pop/" + std::string(name) + ".txt"), "kept");
        ::chmod(lib("Pop/" + std::string(name) + ".txt").c_str(), 0444);
        writeFile(work(std::string(name) + ".mp3"), "");
        writeFile(work(std::string(name) + ".txt"), "");
    }
    EXPECT_EQ(run().OkCount, 2);
    EXPECT_EQ(window.messages(),
              (std::vector<std::string>{lib("Pop/Song.mp3") + ":(70)書き込みできません。",
                                        lib("Pop/Tune.mp3") + ":(70)書き込みできません。"}));
    EXPECT_EQ(readFile(lib("Pop/Song.mp3")), "A=new\n");
    EXPECT_EQ(readFile(work("Song.mp3")), kTagged);
    EXPECT_EQ(names(work("")),
              (std::vector<std::string>{"Song.mp3", "Song.txt", "Tune.mp3", "Tune.txt"}));
}

// Each step of the move fails in turn: the first failure ends the move, is
// reported once, and leaves the files as the step before it left them. The MP3
// file leaves the work folder last.
struct StepFault {
    Call call;
    int nth;
    std::vector<std::string> libraryNames;
    std::vector<std::string> workLeft;
};

void PrintTo(const StepFault& fault, std::ostream* os) {
    *os << "call " << static_cast<int>(fault.call) << " #" << fault.nth;
}

class ReplaceFaultTest : public ReplaceTest, public ::testing::WithParamInterface<StepFault> {};

TEST_P(ReplaceFaultTest, FirstFailureEndsTheMove) {
    const StepFault& fault = GetParam();
    writeFile(lib("Pop/Song.mp3"), "A=new\n");
    writeFile(work("Song.mp3"), "");
    writeFile(work("Song.txt"), "text");
    FaultyPosix posix;
    posix.failAt(fault.call, fault.nth, EIO);
    EXPECT_EQ(run(posix).OkCount, 1);
    EXPECT_EQ(window.messages(), (std::vector<std::string>{lib("Pop/Song.mp3") +
                                                           ":(57)デバイスの入出力エラーです。"}));
    EXPECT_EQ(readFile(lib("Pop/Song.mp3")), "A=new\n");
    EXPECT_EQ(names(lib("Pop")), fault.libraryNames);
    EXPECT_EQ(names(work("")), fault.workLeft);
}

INSTANTIATE_TEST_SUITE_P(Steps, ReplaceFaultTest,
                         ::testing::Values(
                             // the companion's move
                             StepFault{Call::Rename, 1, {"Song.mp3"}, {"Song.mp3", "Song.txt"}},
                             // the MP3 file's move
                             StepFault{Call::Rename, 2, {"Song.mp3", "Song.txt"}, {"Song.mp3"}}),
                         [](const ::testing::TestParamInfo<StepFault>& param) {
                             return "Step" + std::to_string(param.index);
                         });
