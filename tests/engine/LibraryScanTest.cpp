// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LibraryScan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;
using kestrom::platform::DirLookup;

// The root text as typed, with the separator added even after one already there;
// every folder once in breadth-first order, each level in the fixed order; links
// followed; hidden folders left out.
TEST(LibraryScan, ListsTheTreeBreadthFirstInTheFixedOrderFollowingLinksOnce) {
    TempDir dir;
    // Created deepest and last-sorted first, so that creation order cannot pass for the order.
    for (const char* folder :
         {"lib/b/y/deep", "lib/B2", "lib/a/x", "lib/.hidden/inner", "elsewhere/c"})
        makeDirs(dir / folder);
    writeFile(dir / "lib/a/song.mp3");
    ASSERT_EQ(::symlink("..", (dir / "lib/a/up").c_str()), 0);  // a loop back to the root
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "lib/ext").c_str()), 0);
    kestrom::platform::Posix posix;
    DirLookup lookup(posix);
    std::vector<std::string> found;
    for (const std::string& d : scanLibrary(dir / "lib/", lookup).SourceDirs)
        found.push_back(d.substr(dir.path().size()));
    EXPECT_EQ(found, (std::vector<std::string>{"/lib//", "/lib//a/", "/lib//b/", "/lib//B2/",
                                               "/lib//ext/", "/lib//a/x/", "/lib//b/y/",
                                               "/lib//ext/c/", "/lib//b/y/deep/"}));
}

TEST(LibraryScan, IndexFindsTheFirstFolderInScanOrder) {
    TempDir dir;
    writeTree(dir.path(),
              "lib/z/deeper/Both.mp3: lib/Both.mp3: lib/b/Twin.mp3: lib/a/TWIN.MP3: "
              "lib/a/twin.mp3: lib/z/.Hidden.mp3: lib/a/Folder.mp3/x:");
    kestrom::platform::Posix posix;
    DirLookup lookup(posix);
    const LibraryScan scan = scanLibrary(dir / "lib", lookup);
    // The root beats its subfolders, a before b; the exact spelling, else the first
    // in byte order.
    for (const auto& [name, folder, found] : {std::tuple{"BOTH.mp3", "lib/", "Both.mp3"},
                                              {"twin.mp3", "lib/a/", "twin.mp3"},
                                              {"Twin.Mp3", "lib/a/", "TWIN.MP3"}}) {
        const auto match = scan.index.find(name);
        ASSERT_TRUE(match) << name;
        EXPECT_EQ(scan.SourceDirs[match->folder] + match->name, dir / folder + found);
    }
    EXPECT_FALSE(scan.index.find(".hidden.mp3"));
    EXPECT_FALSE(scan.index.find("Folder.mp3"));
}
