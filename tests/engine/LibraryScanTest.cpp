// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/LibraryScan.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;
using kestrom::platform::DirLookup;

namespace {

std::vector<std::string> relative(const LibraryScan& scan, const std::string& root) {
    std::vector<std::string> dirs;
    for (const std::string& d : scan.SourceDirs) dirs.push_back(d.substr(root.size()));
    return dirs;
}

}  // namespace

TEST(LibraryScan, ListsTheTreeBreadthFirstInTheFixedOrder) {
    TempDir dir;
    // Created deepest and last-sorted first, so that creation order cannot pass for the order.
    makeDirs(dir / "lib/b/y/deep");
    makeDirs(dir / "lib/B2");
    makeDirs(dir / "lib/a/x");
    makeDirs(dir / "lib/.hidden/inner");
    writeFile(dir / "lib/a/song.mp3");
    writeFile(dir / "lib/.hidden/inner/song.mp3");
    kestrom::platform::Posix posix;
    DirLookup lookup(posix);
    const LibraryScan scan = scanLibrary(dir / "lib", lookup);
    EXPECT_EQ(
        relative(scan, dir / "lib"),
        (std::vector<std::string>{"/", "/a/", "/b/", "/B2/", "/a/x/", "/b/y/", "/b/y/deep/"}));
    EXPECT_EQ(scan.DirCount(), 7u);
}

TEST(LibraryScan, RootTextIsKeptAsTypedWithTheSeparatorAdded) {
    TempDir dir;
    makeDirs(dir / "lib/sub");
    writeFile(dir / "only/a.mp3");
    kestrom::platform::Posix posix;
    DirLookup lookup(posix);
    EXPECT_EQ(scanLibrary(dir / "lib/", lookup).SourceDirs,
              (std::vector<std::string>{dir / "lib//", dir / "lib//sub/"}));
    EXPECT_EQ(scanLibrary(dir / "only", lookup).DirCount(), 1u);  // files only
}

TEST(LibraryScan, FollowsLinksButNeverListsAFolderTwice) {
    TempDir dir;
    makeDirs(dir / "lib/a");
    makeDirs(dir / "elsewhere/c");
    ASSERT_EQ(::symlink("..", (dir / "lib/a/up").c_str()), 0);  // a loop back to the root
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "lib/ext").c_str()), 0);
    kestrom::platform::Posix posix;
    DirLookup lookup(posix);
    const LibraryScan scan = scanLibrary(dir / "lib", lookup);
    EXPECT_EQ(relative(scan, dir / "lib"),
              (std::vector<std::string>{"/", "/a/", "/ext/", "/ext/c/"}));
}

TEST(LibraryScan, IndexFindsTheFirstFolderInScanOrder) {
    TempDir dir;
    writeFile(dir / "lib/z/deeper/Both.mp3");
    writeFile(dir / "lib/Both.mp3");  // the root beats its subfolders
    writeFile(dir / "lib/b/Twin.mp3");
    writeFile(dir / "lib/a/TWIN.MP3");  // a is listed before b
    writeFile(dir / "lib/a/twin.mp3");
    writeFile(dir / "lib/z/.Hidden.mp3");
    makeDirs(dir / "lib/a/Folder.mp3");
    kestrom::platform::Posix posix;
    DirLookup lookup(posix);
    const LibraryScan scan = scanLibrary(dir / "lib", lookup);

    const auto both = scan.index.find("BOTH.mp3");
    ASSERT_TRUE(both);
    EXPECT_EQ(scan.SourceDirs[both->folder], dir / "lib/");
    EXPECT_EQ(both->name, "Both.mp3");

    const auto twin = scan.index.find("twin.mp3");
    ASSERT_TRUE(twin);
    EXPECT_EQ(scan.SourceDirs[twin->folder], dir / "lib/a/");
    EXPECT_EQ(twin->name, "twin.mp3");                         // the exact spelling
    EXPECT_EQ(scan.index.find("Twin.Mp3")->name, "TWIN.MP3");  // else the first in byte order

    EXPECT_FALSE(scan.index.find(".hidden.mp3"));
    EXPECT_FALSE(scan.index.find("Folder.mp3"));
}
