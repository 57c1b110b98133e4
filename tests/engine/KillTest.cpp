// SPDX-License-Identifier: GPL-3.0-or-later
// A run killed at any moment leaves every file either as it was or completely
// processed: each MP3 keeps its audio and carries its old or its new tag, and
// each file being moved is in the library, in the work folder or in both. The
// next run cleans up and finishes the job: every matched file and its companion
// end in the library, and nothing hidden is left.
//
// KESTROM_KILL_ROUNDS (25) and KESTROM_KILL_FRAMES (audio frames a file, 3) make
// a longer run of it over songs of real size; see bench/README.md.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <random>
#include <thread>

#include "RecordingWindow.h"
#include "engine/Run.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;

namespace {

constexpr int kFiles = 24;

int setting(const char* name, int otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : otherwise;
}
const int kFrames = setting("KESTROM_KILL_FRAMES", 3);

struct Tree {
    TempDir dir;
    std::string lib(int i) const { return libDir(i) + "Song" + std::to_string(i) + ".mp3"; }
    std::string libDir(int i) const { return dir / ("lib/Folder" + std::to_string(i % 3) + "/"); }
    std::string work(const std::string& name) const { return dir / ("work/" + name); }
    // Work file i: every fourth a karaoke copy, every sixth without a match.
    static std::string workName(int i) {
        if (i % 6 == 5) return "Lost" + std::to_string(i) + ".mp3";
        return "Song" + std::to_string(i) + (i % 4 == 1 ? "_K.mp3" : ".mp3");
    }
    static std::string audio(int i, bool work) {
        return silentAudio(kFrames, (work ? 100u : 0u) + static_cast<unsigned>(i));
    }

    Tree() {
        for (int i = 0; i < kFiles; ++i) {
            const Mp3Tag libTag{"Library " + std::to_string(i), "Artist", "Album", "2001", "", ""};
            writeMp3(lib(i), audio(i, false), &libTag);
            // Every third work file has no tag: its write is a rewrite, the others' in place.
            const Mp3Tag workTag{"Work " + std::to_string(i), "Old", "", "", "", ""};
            writeMp3(work(workName(i)), audio(i, true), i % 3 == 0 ? nullptr : &workTag);
            if (i % 2 == 0) writeFile(work("Song" + std::to_string(i) + ".txt"), "text");
        }
    }

    // Runs the whole transfer with the replace box ticked in a child process,
    // killed after `delay` unless it ended before; no delay: never killed.
    void runKilledAfter(std::optional<std::chrono::microseconds> delay) const {
        const pid_t child = ::fork();
        if (child == 0) {
            kestrom::taglib::Vbmp3 library(TAG_LIBRARY);
            RecordingWindow window(dir / "lib", dir / "work", true);
            kestrom::platform::Posix posix;
            runTransfer(window, library, {}, posix);
            ::_exit(0);
        }
        if (delay) std::this_thread::sleep_for(*delay);
        // A child that has ended is a zombie until waited for: no other process.
        if (delay) ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
    }

    // Checks every file. Finished: a run that was not killed came last, so every
    // matched file and its companion are in the library and nothing hidden is left.
    // Returns how many work files have left the work folder.
    int verify(bool finished) const {
        int left = 0;
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = workName(i), libTitle = "Library " + std::to_string(i);
            const std::string text = "Song" + std::to_string(i) + ".txt", copy = libDir(i) + name;
            SCOPED_TRACE(name);
            // The work file's audio, with its old tag or the library's.
            const auto whole = [&](const std::string& path) {
                const std::string title = readMp3Tag(path).title;
                const std::string old = i % 3 == 0 ? "" : "Work " + std::to_string(i);
                return audioOf(path) == audio(i, true) && (title == old || title == libTitle);
            };
            const bool inWork = exists(work(name)), replaced = audioOf(lib(i)) == audio(i, true);
            const bool copied = name.ends_with("_K.mp3") && exists(copy);
            left += inWork ? 0 : 1;
            EXPECT_TRUE(!inWork || whole(work(name))) << "the work file is damaged";
            // The library file is the untouched original or the tagged work file; a
            // karaoke copy lands beside it under its own name.
            EXPECT_TRUE(replaced ? whole(lib(i))
                                 : audioOf(lib(i)) == audio(i, false) &&
                                       readMp3Tag(lib(i)).title == libTitle)
                << "the library file is damaged";
            EXPECT_TRUE(!copied || whole(copy)) << "the karaoke copy is damaged";
            EXPECT_TRUE(inWork || replaced || copied) << "the work file is gone";
            EXPECT_TRUE(i % 2 != 0 || exists(work(text)) || exists(libDir(i) + text) ||
                        exists(libDir(i) + "Song" + std::to_string(i) + "_K.txt"))
                << "the companion is gone";
            EXPECT_FALSE(finished && i % 6 != 5 && inWork) << "not moved";
            EXPECT_FALSE(finished && i % 2 == 0 && exists(work(text))) << "companion left behind";
        }
        EXPECT_EQ(finished ? hiddenFiles(dir.path()) : "", "");
        return left;
    }
};

}  // namespace

// The moments are random over a run's length (which a loaded machine stretches),
// so some kills land before the first file and some after the last; the others
// catch the run with some files moved and others not.
TEST(KillTest, KilledRunsNeverDamageOrLoseAFile) {
    std::chrono::microseconds whole{};
    {
        Tree tree;
        const auto t0 = std::chrono::steady_clock::now();
        tree.runKilledAfter(std::nullopt);
        whole = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - t0);
        tree.verify(true);
    }
    std::mt19937 random(20261206);
    std::uniform_int_distribution<long> moment(0, whole.count());
    int halfWay = 0;  // kills that caught a run with some files moved and others not
    for (int round = 0, rounds = setting("KESTROM_KILL_ROUNDS", 25); round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Tree tree;
        tree.runKilledAfter(std::chrono::microseconds(moment(random)));
        const int left = tree.verify(false);
        halfWay += left > 0 && left < kFiles - kFiles / 6 ? 1 : 0;
        tree.runKilledAfter(std::nullopt);
        tree.verify(true);
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(halfWay, 0) << "no kill landed in the middle of a run";
}
