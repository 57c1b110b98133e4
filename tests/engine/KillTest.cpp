// SPDX-License-Identifier: GPL-3.0-or-later
// A run killed at any moment leaves every file either as it was or completely
// processed: each MP3 keeps its audio and carries its old or its new tag, and
// each file being moved is in the library, in the work folder or in both. The
// next run cleans up and finishes the job: every file ends where and as a run
// that was never killed leaves it, and nothing hidden is left.
//
// KESTROM_KILL_ROUNDS (25) and KESTROM_KILL_FRAMES (audio frames a file, 3) make
// a longer run of it over songs of real size; see bench/README.md.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <random>

#include "RecordingWindow.h"
#include "Songs.h"
#include "engine/Run.h"
#ifndef _WIN32
#include "support/Fork.h"
#endif

using namespace kestrom::test;

#ifndef _WIN32
namespace {

constexpr int kSongs = 24;

int setting(const char* name, int otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : otherwise;
}

// Runs the whole transfer over root with the replace box ticked in a child
// process, killed after `delay` microseconds unless it ended before; a negative
// delay: never killed. A child that has ended is a zombie until waited for: no
// other process gets the signal.
void runKilledAfter(const std::string& root, long delay) {
    const pid_t child = forkChild();
    ASSERT_GE(child, 0);
    if (child == 0) {
        kestrom::binding::Vbmp3 library(TAG_LIBRARY);
        RecordingWindow window(root + "/lib", root + "/work", true);
        kestrom::platform::Posix posix;
        kestrom::engine::RunOptions batchesOfFive;  // kills land between batches too
        batchesOfFive.batchFiles = 5;
        kestrom::engine::runTransfer(window, library, batchesOfFive, posix);
        ::_exit(0);
    }
    if (delay >= 0) ::usleep(static_cast<useconds_t>(delay));
    if (delay >= 0) ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
}

}  // namespace
#endif

// The moments are random over a run's length (which a loaded machine stretches),
// so some kills land before the first file and some after the last; the others
// catch the run with some files moved and others not.
TEST(KillTest, KilledRunsNeverDamageOrLoseAFile) {
#ifdef _WIN32
    GTEST_SKIP() << "needs child processes (fork) to kill";
#else
    const int frames = setting("KESTROM_KILL_FRAMES", 3);
    TempDir clean;  // the run that is never killed
    std::vector<Song> songs = writeSongs(clean.path(), kSongs, frames);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_NO_FATAL_FAILURE(runKilledAfter(clean.path(), -1));
    const auto whole = std::chrono::steady_clock::now() - t0;
    for (Song& s : songs) s.tagged = readFile(clean / s.moved);
    ASSERT_EQ(hiddenFiles(clean.path()), "");

    std::mt19937 random(20261206);
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(whole).count());
    int halfWay = 0;  // kills that caught a run with some files moved and others not
    for (int round = 0, rounds = setting("KESTROM_KILL_ROUNDS", 25); round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempDir dir;
        writeSongs(dir.path(), kSongs, frames);
        ASSERT_NO_FATAL_FAILURE(runKilledAfter(dir.path(), moment(random)));
        int left = 0;  // work files still in the work folder
        for (const Song& s : songs) {
            expectWhole(dir.path(), s);
            left += exists(dir / s.work) ? 1 : 0;
        }
        halfWay += left > 0 && left < kSongs ? 1 : 0;
        ASSERT_NO_FATAL_FAILURE(runKilledAfter(dir.path(), -1));
        // Where the killed run had tagged a file, the tag's frames may come in
        // another order: the fields and the audio are the same.
        EXPECT_EQ(treeOf(dir.path()), treeOf(clean.path())) << "the next run left other files";
        for (const Song& s : songs) {
            EXPECT_TRUE(readMp3Tag(dir / s.moved) == readMp3Tag(clean / s.moved)) << s.moved;
            EXPECT_TRUE(audioOf(dir / s.moved) == audioOf(clean / s.moved)) << s.moved;
            EXPECT_TRUE(s.text.empty() || holds(dir / s.movedText, {s.text})) << s.movedText;
        }
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(halfWay, 0) << "no kill landed in the middle of a run";
#endif
}
