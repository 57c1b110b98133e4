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
#include <filesystem>
#include <optional>
#include <random>
#include <thread>

#include "RecordingWindow.h"
#include "engine/Run.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kFiles = 24;

int setting(const char* name, int otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : otherwise;
}
const int kFrames = setting("KESTROM_KILL_FRAMES", 3);
constexpr int kMatched = kFiles - kFiles / 6;  // every sixth work file has no match

struct Tree {
    TempDir dir;
    std::string lib(int i) const {
        return dir / ("lib/" + folder(i) + "/Song" + std::to_string(i) + ".mp3");
    }
    std::string libDir(int i) const { return dir / ("lib/" + folder(i) + "/"); }
    std::string work(const std::string& name) const { return dir / ("work/" + name); }
    static std::string folder(int i) { return "Folder" + std::to_string(i % 3); }
    // Work file i: every fourth a karaoke copy, every sixth without a match.
    static std::string workName(int i) {
        if (i % 6 == 5) return "Lost" + std::to_string(i) + ".mp3";
        return "Song" + std::to_string(i) + (i % 4 == 1 ? "_K.mp3" : ".mp3");
    }

    Tree() {
        for (int i = 0; i < kFiles; ++i) {
            const Mp3Tag libTag{"Library " + std::to_string(i), "Artist", "Album", "2001", "", ""};
            writeMp3(lib(i), silentAudio(kFrames, static_cast<unsigned>(i)), &libTag);
            // Every third work file has no tag: its write is a rewrite, the others' in place.
            const Mp3Tag workTag{"Work " + std::to_string(i), "Old", "", "", "", ""};
            writeMp3(work(workName(i)), silentAudio(kFrames, 100u + static_cast<unsigned>(i)),
                     i % 3 == 0 ? nullptr : &workTag);
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
        if (delay) {
            std::this_thread::sleep_for(*delay);
            ::kill(
                child,
                SIGKILL);  // a child that has ended is a zombie until waited for: no other process
        }
        int status = 0;
        ::waitpid(child, &status, 0);
    }

    // Checks every file; returns how many work files have left the work folder.
    int verify() const {
        int left = 0;
        for (int i = 0; i < kFiles; ++i) {
            SCOPED_TRACE("file " + std::to_string(i));
            const std::string name = workName(i);
            const std::string workAudio = silentAudio(kFrames, 100u + static_cast<unsigned>(i));
            const std::string libAudio = silentAudio(kFrames, static_cast<unsigned>(i));
            const std::string libTitle = "Library " + std::to_string(i);
            const auto expectIntact = [&](const std::string& path, const std::string& audio) {
                EXPECT_TRUE(audioOf(path) == audio) << path << ": audio changed";
                const std::string title = readMp3Tag(path).title;
                const std::string old = i % 3 == 0 ? "" : "Work " + std::to_string(i);
                EXPECT_TRUE(title == old || title == libTitle) << path << ": " << title;
            };

            const bool inWork = exists(work(name));
            if (inWork) expectIntact(work(name), workAudio);
            left += inWork ? 0 : 1;

            // The library file either is the untouched original or has been replaced by
            // the tagged work file; a karaoke copy lands beside it under its own name.
            const bool replacedInPlace = audioOf(lib(i)) == workAudio;
            if (replacedInPlace) {
                expectIntact(lib(i), workAudio);
            } else {
                EXPECT_TRUE(audioOf(lib(i)) == libAudio) << lib(i) << ": audio changed";
                EXPECT_EQ(readMp3Tag(lib(i)).title, libTitle);
            }
            const std::string karaokeCopy = libDir(i) + name;
            const bool copied = name.ends_with("_K.mp3") && exists(karaokeCopy);
            if (copied) expectIntact(karaokeCopy, workAudio);
            EXPECT_TRUE(inWork || replacedInPlace || copied) << name << " is gone";

            if (i % 2 == 0) {
                const std::string text = "Song" + std::to_string(i) + ".txt";
                const std::string karaokeText = "Song" + std::to_string(i) + "_K.txt";
                EXPECT_TRUE(exists(work(text)) || exists(libDir(i) + text) ||
                            exists(libDir(i) + karaokeText));
            }
        }
        return left;
    }

    // After a run that was not killed: every matched file and its companion are
    // in the library, and no hidden file is left anywhere.
    void verifyFinished() const {
        for (int i = 0; i < kFiles; ++i) {
            if (i % 6 == 5) continue;
            const std::string text = "Song" + std::to_string(i) + ".txt";
            EXPECT_FALSE(exists(work(workName(i)))) << workName(i) << " was not moved";
            EXPECT_FALSE(i % 2 == 0 && exists(work(text))) << text << " was left behind";
        }
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
            EXPECT_FALSE(e.path().filename().string().starts_with('.')) << e.path();
    }
};

}  // namespace

TEST(KillTest, KilledRunsNeverDamageOrLoseAFile) {
    std::chrono::microseconds whole{};
    {
        Tree tree;
        const auto t0 = Clock::now();
        tree.runKilledAfter(std::nullopt);
        whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
        EXPECT_EQ(tree.verify(), kMatched);  // every file with a match has moved
    }
    std::mt19937 random(20261206);
    std::uniform_int_distribution<long> moment(0, whole.count());
    int partial = 0;  // rounds killed half-way, with some files moved and others not
    const int rounds = setting("KESTROM_KILL_ROUNDS", 25);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Tree tree;
        tree.runKilledAfter(std::chrono::microseconds(moment(random)));
        const int left = tree.verify();
        partial += left > 0 && left < kMatched ? 1 : 0;
        tree.runKilledAfter(std::nullopt);
        tree.verify();
        tree.verifyFinished();
        if (::testing::Test::HasFailure()) break;
    }
    // The moments are random over a run's length, which a loaded machine stretches:
    // a few of the kills must land in the middle of a run.
    EXPECT_GE(partial, std::max(1, rounds / 10)) << "the kills should land in the middle of runs";
}
