// SPDX-License-Identifier: GPL-3.0-or-later
// The folders of a run: the check of the two folder texts, the library scan and
// the work folder's listing.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "engine/FolderCheck.h"
#include "engine/LibraryScan.h"
#include "engine/WorkInventory.h"
#include "support/TempDir.h"
#ifndef _WIN32
#include "support/Fork.h"
#endif

using namespace kestrom::engine;
using namespace kestrom::test;
using kestrom::platform::DirLookup;

namespace {

// A fresh folder and a lookup over the real system calls.
class Folders : public testing::Test {
protected:
    TempDir dir;
    kestrom::platform::Posix posix;
    DirLookup lookup{posix};
};
using FolderCheck = Folders;
using ScanLibrary = Folders;
using ListWorkFolder = Folders;

#ifndef _WIN32
// Runs body in a child process with a mount namespace of its own, in which
// each pair's first folder in dir is bound at its second, so that nothing
// outside sees the mounts, and returns what body returned; nothing where the
// system allows no such mounts (it needs root or CAP_SYS_ADMIN).
std::optional<std::string> withBindMounts(
    const TempDir& dir, std::initializer_list<std::pair<const char*, const char*>> binds,
    const std::function<std::string()>& body) {
    constexpr int kCannotMount = 77;
    const pid_t child = forkChild();
    if (child < 0) return "fork failed";
    if (child == 0) {
        bool mounted = ::unshare(CLONE_NEWNS) == 0 &&
                       ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        for (const auto& [from, at] : binds)
            mounted = mounted && ::mount((dir / from).c_str(), (dir / at).c_str(), nullptr, MS_BIND,
                                         nullptr) == 0;
        if (!mounted) ::_exit(kCannotMount);
        writeFile(dir / "results", body());
        ::_exit(0);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return "the child died";
    if (WEXITSTATUS(status) == kCannotMount) return std::nullopt;
    return WEXITSTATUS(status) == 0 ? readFile(dir / "results") : "the child failed";
}

constexpr const char* kNoBindMounts =
    "this system allows no bind mount in a private mount namespace (it needs root or "
    "CAP_SYS_ADMIN)";
#endif

// The reason the tests that make symbolic links give on Windows.
[[maybe_unused]] constexpr const char* kNoLinks =
    "makes symbolic links, which Windows allows only with a privilege";

}  // namespace

// In the texts "~" stands for the temporary folder, which is also the current
// folder, for the relative ones.
TEST_F(FolderCheck, RefusesOverlappingOrMissingFolders) {
#ifdef _WIN32
    GTEST_SKIP() << kNoLinks;
#else
    writeTree(dir.path(),
              "music/new/x: Music/x: mp3/x: mp3new/x: work/x: .hidden/x: lib*?/x: file.mp3:");
    ASSERT_EQ(::symlink((dir / "music/new").c_str(), (dir / "link").c_str()), 0);
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string overlap = "指定パスの範囲が重複しています。",
                      missing = "なんてフォルダはないよ";
    for (auto [library, work, expected] :
         {std::tuple<std::string, std::string, std::string>{"~/music", "~/music/new", overlap},
          {"~/mp3", "~/mp3new", ""},  // siblings whose names share a beginning
          {"~/work", "~/work", overlap},
          {"", "~/work", overlap},
          {"~/Music", "~/music/new", ""},  // compared case-sensitively
          {"~/work", "./work/", overlap},  // relative
          {"~/music/../work", "~//work//", overlap},
          {"~/music", "~/link", overlap},               // a link into the library
          {"~/music", "~/mp3/../music/gone", overlap},  // folded by its text when it does not exist
          {"~/music/", "~/work", ""},
          {"~/lib*?", "~/work", ""},  // "*" and "?" are characters of the name
          {"~/music", "~/nothere", "~/nothere" + missing},
          {"~/nothere", "~/nowhere", "~/nothere" + missing},  // the library is checked first
          {"~/.hidden", "~/work", "~/.hidden" + missing},
          {"~/file.mp3", "~/work", "~/file.mp3" + missing},
          {"~/mus*", "~/work", "~/mus*" + missing}}) {
        for (std::string* text : {&library, &work, &expected})
            if (text->starts_with('~')) text->replace(0, 1, dir.path());
        EXPECT_EQ(checkFolders(library, work, lookup, posix).value_or(""), expected)
            << library << " " << work;
    }
    ASSERT_EQ(::chdir(cwd), 0);
#endif
}

namespace {

// The real system calls, but the mount table is read from the file `table`.
class TablePosix : public kestrom::platform::Posix {
public:
    std::string table;
    int open(const char* path, int flags, mode_t mode) override {
        const bool mountTable = std::string_view(path) == "/proc/self/mountinfo";
        return Posix::open(mountTable ? table.c_str() : path, flags, mode);
    }
};

}  // namespace

// Folders that the mount table shows in a second place: a bind mount of a
// library subfolder as the work folder, and a folder shown in a second place
// that holds the other folder's first place, each in both orders of the texts; a
// folder of another file system with the same path inside it passes. "~" is the temporary
// folder as the system resolves it.
TEST_F(FolderCheck, FoldersThatTheMountTableShowsTwiceOverlap) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no mount table, which the folder check reads on Linux only";
#else
    writeTree(dir.path(), "lib/sub/x: work/x: top/in/x: other/x: disk/x:");
    std::string root;
    ASSERT_EQ(posix.realpath(dir.path().c_str(), root), 0);
    TablePosix tablePosix;
    tablePosix.table = dir / "mountinfo";
    std::string table =
        "21 1 9:1 / / rw - ext4 /dev/vda rw\n"
        "22 21 9:1 ~/lib/sub ~/work rw - ext4 /dev/vda rw\n"
        "23 21 9:1 ~/top ~/other rw - ext4 /dev/vda rw\n"
        "24 21 9:2 ~/lib ~/disk rw - ext4 /dev/vdb rw\n";
    for (std::size_t at; (at = table.find('~')) != std::string::npos;) table.replace(at, 1, root);
    writeFile(tablePosix.table, table);
    const std::string overlap = "指定パスの範囲が重複しています。";
    for (const auto& [library, work, expected] : {std::tuple{"lib", "work", overlap},
                                                  {"work", "lib", overlap},
                                                  {"other", "top/in", overlap},
                                                  {"top/in", "other", overlap},
                                                  {"disk", "lib/sub", std::string()},
                                                  {"lib", "disk", std::string()}})
        EXPECT_EQ(checkFolders(dir / library, dir / work, lookup, tablePosix).value_or(""),
                  expected)
            << library << " " << work;
#endif
}

// The same with real bind mounts, in a mount namespace of a child process of
// its own, so that nothing outside it sees them: a library subfolder bound as
// the work folder, the library bound to a second place that holds the work
// folder. The second needs no mount table: the folder identity of the work
// folder's parent is the library's.
TEST_F(FolderCheck, BindMountsOfTheLibraryOverlapIt) {
#ifdef _WIN32
    GTEST_SKIP() << "needs bind mounts in a mount namespace of a child process (fork, unshare)";
#else
    writeTree(dir.path(), "lib/sub/x: work/x: alias/x: other/x:");
    TablePosix noTable;
    noTable.table = dir / "missing";
    const auto results = withBindMounts(dir, {{"lib/sub", "work"}, {"lib", "alias"}}, [&] {
        std::string lines;
        for (const auto& [library, work, system] : {std::tuple{"lib", "work", &posix},
                                                    {"work", "lib", &posix},
                                                    {"lib", "alias/sub", &posix},
                                                    {"lib", "alias/sub", &noTable},
                                                    {"other", "work", &posix}}) {
            DirLookup childLookup(*system);
            lines += checkFolders(dir / library, dir / work, childLookup, *system).value_or("-");
            lines += "\n";
        }
        return lines;
    });
    if (!results) GTEST_SKIP() << kNoBindMounts << "; the mount table test proves the logic";
    const std::string overlap = "指定パスの範囲が重複しています。";
    EXPECT_EQ(*results, overlap + "\n" + overlap + "\n" + overlap + "\n" + overlap + "\n-\n");
#endif
}

// The root text as typed, with the separator added even after one already there;
// every folder once in breadth-first order, each level in the fixed order; links
// followed; hidden folders left out.
TEST_F(ScanLibrary, ListsTheTreeBreadthFirstInTheFixedOrderFollowingLinksOnce) {
#ifdef _WIN32
    GTEST_SKIP() << kNoLinks;
#else
    // Created deepest and last-sorted first, so that creation order cannot pass for the order.
    for (const char* folder :
         {"lib/b/y/deep", "lib/B2", "lib/a/x", "lib/.hidden/inner", "elsewhere/c"})
        makeDirs(dir / folder);
    writeFile(dir / "lib/a/song.mp3");
    ASSERT_EQ(::symlink("..", (dir / "lib/a/up").c_str()), 0);  // a loop back to the root
    ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "lib/ext").c_str()), 0);
    std::vector<std::string> found;
    for (const std::string& d : scanLibrary(dir / "lib/", lookup).SourceDirs)
        found.push_back(d.substr(dir.path().size()));
    EXPECT_EQ(found, (std::vector<std::string>{"/lib//", "/lib//a/", "/lib//b/", "/lib//B2/",
                                               "/lib//ext/", "/lib//a/x/", "/lib//b/y/",
                                               "/lib//ext/c/", "/lib//b/y/deep/"}));
#endif
}

TEST_F(ScanLibrary, IndexFindsTheFirstFolderInScanOrder) {
#ifdef _WIN32
    // Names that differ only in letter case cannot share a folder there.
    const std::string twin;
    const char* const exact = "TWIN.MP3";
#else
    const std::string twin = "lib/a/twin.mp3: ";
    const char* const exact = "twin.mp3";
#endif
    writeTree(dir.path(),
              "lib/z/deeper/Both.mp3: lib/Both.mp3: lib/b/Twin.mp3: lib/a/TWIN.MP3: " + twin +
                  "lib/z/.Hidden.mp3: lib/a/Folder.mp3/x: lib/b/Café.mp3: lib/b/か\u3099.mp3:");
#ifndef _WIN32
    ASSERT_EQ(::symlink("nowhere", (dir / "lib/Dead.mp3").c_str()), 0);
#endif
    const LibraryScan scan = scanLibrary(dir / "lib", lookup);
    // The root beats its subfolders, a before b; the exact spelling, else the first
    // in byte order; a name composed or decomposed (か + U+3099 is が) finds the other.
    for (const auto& [name, folder, found] : {std::tuple{"BOTH.mp3", "lib/", "Both.mp3"},
                                              {"twin.mp3", "lib/a/", exact},
                                              {"Twin.Mp3", "lib/a/", "TWIN.MP3"},
                                              {"CAFE\u0301.MP3", "lib/b/", "Café.mp3"},
                                              {"が.mp3", "lib/b/", "か\u3099.mp3"}}) {
        const auto match = scan.index.find(name);
        ASSERT_TRUE(match) << name;
        EXPECT_EQ(scan.SourceDirs[match->folder] + match->name, dir / folder + found);
    }
    EXPECT_FALSE(scan.index.find(".hidden.mp3"));
    EXPECT_FALSE(scan.index.find("Folder.mp3"));
    EXPECT_FALSE(scan.index.find("Dead.mp3"));  // a link to nothing is no file
}

namespace {

// Gives listings whose folder inodes are not the folders' own, as an overlay's
// may be; the mount table comes from a file.
class ListingOtherInodes : public TablePosix {
public:
    int readDirectory(const char* path,
                      std::vector<kestrom::platform::ListedEntry>& entries) override {
        const int result = TablePosix::readDirectory(path, entries);
        for (kestrom::platform::ListedEntry& e : entries) e.inode += 1000000;
        return result;
    }
};

}  // namespace

// A folder is known by the listing's inode only where that is the folder's own:
// on a file system whose listings tell the truth, away from mount points. Here
// the listings do not: on a file system of another type, at a mount point, or
// with no mount table, every folder is looked at and found once. The last case,
// a table that vouches for the listing, shows the listing's word being taken
// (the link then passes for another folder).
TEST_F(ScanLibrary, KnowsFoldersByTheListingOnlyWhereItIsTheirOwn) {
#ifdef _WIN32
    GTEST_SKIP() << kNoLinks;
#else
    writeTree(dir.path(), "lib/a/Song.mp3: lib/b/x:");
    ASSERT_EQ(::symlink("a", (dir / "lib/link").c_str()), 0);
    ASSERT_EQ(::symlink("..", (dir / "lib/a/up").c_str()), 0);
    std::string root;
    ASSERT_EQ(posix.realpath(dir.path().c_str(), root), 0);
    const std::string once = "lib/ lib/a/ lib/b/ ";
    for (const auto& [table, expected] :
         {std::pair{"1 0 9:1 / / rw - overlay overlay rw\n", once},
          {"1 0 9:1 / / rw - ext4 /dev/vda rw\n2 1 9:1 ~/lib/a ~/lib/a rw - ext4 /dev/vda rw\n",
           once},
          {"", once},
          {"1 0 9:1 / / rw - ext4 /dev/vda rw\n", once + "lib/link/ "}}) {
        ListingOtherInodes lying;
        lying.table = dir / "mountinfo";
        std::string text = table;
        for (std::size_t at; (at = text.find('~')) != std::string::npos;) text.replace(at, 1, root);
        writeFile(lying.table, text);
        DirLookup lyingLookup(lying);
        const LibraryScan scan = scanLibrary(dir / "lib", lyingLookup);
        std::string found;
        for (const std::string& d : scan.SourceDirs) found += d.substr(dir.path().size() + 1) + " ";
        EXPECT_EQ(found, expected) << table;
        const auto song = scan.index.find("song.mp3");
        ASSERT_TRUE(song);
        EXPECT_EQ(scan.SourceDirs[song->folder], dir / "lib/a/");
    }
#endif
}

// Bind mounts inside the library, in a mount namespace of a child process: a
// subfolder bound at a second place in the tree, and the root bound below
// itself. Their listings give the inodes of the folders they cover, so only a
// look finds them the folders they show, listed once.
TEST_F(ScanLibrary, BindMountsInsideTheLibraryAreListedOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "needs bind mounts in a mount namespace of a child process (fork, unshare)";
#else
    writeTree(dir.path(), "lib/a/Song.mp3: lib/b/m/x: lib/c/loop/x:");
    const auto found = withBindMounts(dir, {{"lib/a", "lib/b/m"}, {"lib", "lib/c/loop"}}, [&] {
        std::string folders;
        for (const std::string& d : scanLibrary(dir / "lib", lookup).SourceDirs)
            folders += d.substr(dir.path().size() + 1) + " ";
        return folders;
    });
    if (!found) GTEST_SKIP() << kNoBindMounts;
    EXPECT_EQ(*found, "lib/ lib/a/ lib/b/ lib/c/ ");
#endif
}

// A karaoke copy ends in "_K.mp3" in any letter case and searches for its name
// without the "_K"; hidden files and folders are left out.
TEST_F(ListWorkFolder, ListsMp3FilesWithSearchNamesAndCompanions) {
    writeTree(dir.path(),
              "Song_K.mp3: Song.mp3: SONG.TXT: Other_k.MP3: _K.mp3: .txt: Song_K2.mp3: a.mp3: "
              "notes.txt: .hidden.mp3: folder.mp3/x: 曲_K.mp3: Song-K.mp3: K.mp3:");
    const WorkInventory inv = listWorkFolder(dir.path(), lookup);
    // In the fixed order of the upper-cased names: "_" (0x5F) comes after the letters.
    EXPECT_EQ(inv.TargetNames,
              (std::vector<std::string>{"a.mp3", "K.mp3", "Other.mp3", "Song-K.mp3", "Song.mp3",
                                        "Song.mp3", "Song_K2.mp3", ".mp3", "曲.mp3"}));
    EXPECT_EQ(inv.KaraokeNames, (std::vector<std::string>{"", "", "Other_k.MP3", "", "",
                                                          "Song_K.mp3", "", "_K.mp3", "曲_K.mp3"}));
    // .txt is hidden, so _K.mp3 has no companion; Song and Song_K share SONG.TXT as stored.
    EXPECT_EQ(inv.CompanionTexts,
              (std::vector<std::string>{"", "", "", "", "SONG.TXT", "SONG.TXT", "", "", ""}));
}

// Names match across normalisation: a decomposed karaoke name searches for its
// name without "_K", and a companion is found in the other form and letter case.
TEST_F(ListWorkFolder, CompanionsMatchWhetherComposedOrDecomposed) {
    writeTree(dir.path(), "Cafe\u0301.mp3: CAFÉ.TXT: か\u3099_K.mp3: が.txt:");
    const WorkInventory inv = listWorkFolder(dir.path(), lookup);
    EXPECT_EQ(inv.TargetNames, (std::vector<std::string>{"Cafe\u0301.mp3", "か\u3099.mp3"}));
    EXPECT_EQ(inv.KaraokeNames, (std::vector<std::string>{"", "か\u3099_K.mp3"}));
    EXPECT_EQ(inv.CompanionTexts, (std::vector<std::string>{"CAFÉ.TXT", "が.txt"}));
}

// A link to nothing is a work file with the errno of following it, and no
// companion; a link to a folder is no work file.
TEST_F(ListWorkFolder, ListsALinkToNothingWithItsErrorButNoLinkToAFolder) {
#ifdef _WIN32
    GTEST_SKIP() << kNoLinks;
#else
    writeTree(dir.path(), "Song.mp3: dir/x:");
    for (const auto& [link, target] : {std::pair{"Gone.mp3", "nowhere"},
                                       {"Gone.txt", "nowhere"},
                                       {"Loop_K.mp3", "Loop_K.mp3"},
                                       {"Folder.mp3", "dir"}})
        ASSERT_EQ(::symlink(target, (dir / link).c_str()), 0);
    const WorkInventory inv = listWorkFolder(dir.path(), lookup);
    EXPECT_EQ(inv.TargetNames, (std::vector<std::string>{"Gone.mp3", "Loop.mp3", "Song.mp3"}));
    EXPECT_EQ(inv.KaraokeNames, (std::vector<std::string>{"", "Loop_K.mp3", ""}));
    EXPECT_EQ(inv.linkErrors, (std::vector<int>{ENOENT, ELOOP, 0}));
    EXPECT_EQ(inv.CompanionTexts, (std::vector<std::string>{"", "", ""}));
#endif
}
