// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DirLookup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/FaultyPosix.h"
#include "support/TempDir.h"

using namespace kestrom::platform;
using namespace kestrom::test;

// In f/, the filters: Plain takes visible regular files (and links to them),
// PlainOrBrokenLink adds links that lead nowhere (with the errno of following
// them), Folder adds folders and the dot entries. In n/, names match without regard to
// case whatever the locale, in one order: by the upper-cased names, "_" (0x5F)
// after the letters and "Ａ" (U+FF21) after "_". A name without wildcards gives
// the exact spelling, else the first in byte order; firstLiteral takes "*" and
// "?" as characters of the name.
TEST(DirLookup, FindsNamesWithoutRegardToCaseThroughItsFilters) {
    std::setlocale(LC_ALL, "C");
    TempDir dir;
    writeTree(dir.path(),
              "f/b.mp3: f/A.MP3: f/c.txt: f/.hidden.mp3: f/sub/x: f/.hiddendir/x: "
              "n/_b.ogg: n/B.ogg: n/a.ogg: n/ａ.ogg: n/10.ogg: n/9.ogg: n/ｓｏｎｇ.MP3: "
              "n/é.mp3: n/カ.mp3: n/SS.mp3: n/song.MP3: n/Song.mp3: n/\xFF.mp3: "
              "n/a*b.wav: n/aXb.wav:");
    ASSERT_EQ(::mkfifo((dir / "f/pipe.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "f/broken.mp3").c_str()), 0);
    ASSERT_EQ(::symlink("loop.mp3", (dir / "f/loop.mp3").c_str()), 0);
    ASSERT_EQ(::symlink("b.mp3", (dir / "f/link.mp3").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (dir / "f/linkdir").c_str()), 0);
    Posix posix;
    DirLookup lookup(posix);
    const auto all = [&lookup](std::string name) {  // name and the ones after it
        std::string found;
        for (; !name.empty(); name = lookup.next()) found += (found.empty() ? "" : " ") + name;
        return found;
    };
    for (const auto& [pattern, filter, expected] :
         {std::tuple{"f/*.mp3", Filter::Plain, "A.MP3 b.mp3 link.mp3"},
          {"f/", Filter::Plain, "A.MP3 b.mp3 c.txt link.mp3"},
          {"f/", Filter::PlainOrBrokenLink, "A.MP3 b.mp3 broken.mp3 c.txt link.mp3 loop.mp3"},
          {"f/", Filter::Folder, ". .. A.MP3 b.mp3 c.txt link.mp3 linkdir sub"},
          {"f/sub", Filter::Plain, ""},
          {"f/.hiddendir", Filter::Folder, ""},
          {"f/pipe.mp3", Filter::Folder, ""},
          {"n/*.ogg", Filter::Plain, "10.ogg 9.ogg a.ogg B.ogg _b.ogg ａ.ogg"},
          {"n/ＳＯＮＧ.mp3", Filter::Plain, "ｓｏｎｇ.MP3"},
          {"n/É.MP3", Filter::Plain, "é.mp3"},
          {"n/か.mp3", Filter::Plain, ""},
          {"n/ß.mp3", Filter::Plain, ""},
          {"n/\xFF.MP3", Filter::Plain, "\xFF.mp3"},  // bytes that are not UTF-8
          {"n/song.MP3", Filter::Plain, "song.MP3"},
          {"n/SONG.MP3", Filter::Plain, "Song.mp3"},
          {"n/s*.mp3", Filter::Plain, "Song.mp3 song.MP3 SS.mp3"},
          {"n/a?b.wav", Filter::Plain, "a*b.wav aXb.wav"}})
        EXPECT_EQ(all(lookup.first(dir / pattern, filter)), expected) << pattern;
    EXPECT_EQ(all(lookup.firstLiteral(dir / "n/A*B.wav", Filter::Plain)), "a*b.wav");
    EXPECT_EQ(lookup.firstLiteral(dir / "n/a?b.wav", Filter::Plain), "");
    ASSERT_EQ(lookup.first(dir / "f/linkdir", Filter::Folder), "linkdir");
    EXPECT_EQ(lookup.current().kind, EntryKind::Directory);
    for (const auto& [name, error] : {std::pair{"broken.mp3", ENOENT}, {"loop.mp3", ELOOP}}) {
        ASSERT_EQ(lookup.first(dir / "f/" + name, Filter::PlainOrBrokenLink), name);
        EXPECT_EQ(lookup.current().kind, EntryKind::BrokenLink);
        EXPECT_EQ(lookup.current().error, error);
    }
}

// A name written decomposed (as files copied from a Mac are) finds the composed
// one and the reverse, in any letter case, and comes back as stored; "?" stands
// for one character however it is written. Where both spellings are stored, the
// exact one wins.
TEST(DirLookup, FindsNamesWhetherComposedOrDecomposed) {
    TempDir dir;
    writeTree(dir.path(), "Café.mp3: cafe\u0301.mp3: Cafe\u0301.txt: か\u3099っこう.mp3: 한.mp3:");
    Posix posix;
    DirLookup lookup(posix);
    for (const auto& [pattern, expected] :
         {std::pair{"CAFE\u0301.MP3", "Café.mp3"},  // neither spelled so: the first in byte order
          {"cafe\u0301.mp3", "cafe\u0301.mp3"},
          {"café.TXT", "Cafe\u0301.txt"},
          {"がっこう.mp3", "か\u3099っこう.mp3"},
          {"\u1112\u1161\u11AB.mp3", "한.mp3"},
          {"caf?.*", "Café.mp3 cafe\u0301.mp3 Cafe\u0301.txt"}}) {
        std::string found;
        for (std::string name = lookup.first(dir / pattern, Filter::Plain); !name.empty();
             name = lookup.next())
            found += (found.empty() ? "" : " ") + name;
        EXPECT_EQ(found, expected) << pattern;
    }
}

TEST(DirLookup, UnreadableFolderReturnsNothingAndTellsWhy) {
    TempDir dir;
    writeFile(dir / "a.mp3");
    FaultyPosix posix;
    posix.failAt(Call::ListDirectory, 1, EACCES);
    DirLookup lookup(posix);
    for (const auto& [pattern, found, error] :
         {std::tuple{"*.mp3", "", EACCES}, {"*.mp3", "a.mp3", 0}, {"missing/", "", ENOENT}}) {
        EXPECT_EQ(lookup.first(dir / pattern, Filter::Folder), found);
        EXPECT_EQ(lookup.lastError(), error);
    }
}

// The listing alone: files and folders by the listing's type, a folder with the
// inode a look at it gives, links and other entries for the caller to look at,
// hidden names too, "." and ".." never; a folder of more entries than one read of
// the listing holds; a folder that is missing or a file.
TEST(Posix, ReadDirectoryTellsTypesAndInodesWithoutLooking) {
#ifdef _WIN32
    GTEST_SKIP() << "the listing gives no inode numbers there: folders come as Unknown";
#else
    TempDir dir;
    writeTree(dir.path(), "f/song.mp3: f/.hidden: f/sub/x: many/x:");
    ASSERT_EQ(::symlink("sub", (dir / "f/link").c_str()), 0);
    ASSERT_EQ(::mkfifo((dir / "f/pipe").c_str(), 0600), 0);
    Posix posix;
    std::vector<ListedEntry> entries;
    ASSERT_EQ(posix.readDirectory((dir / "f").c_str(), entries), 0);
    std::sort(entries.begin(), entries.end(),
              [](const ListedEntry& a, const ListedEntry& b) { return a.name < b.name; });
    using Type = ListedEntry::Type;
    std::vector<std::pair<std::string, Type> > seen;
    seen.reserve(entries.size());
    for (const ListedEntry& e : entries) seen.emplace_back(e.name, e.type);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, Type> >{{".hidden", Type::File},
                                                                {"link", Type::Unknown},
                                                                {"pipe", Type::Other},
                                                                {"song.mp3", Type::File},
                                                                {"sub", Type::Directory}}));
    EXPECT_EQ(entries.back().inode, inodeOf(dir / "f/sub"));

    // Some 70 KiB of listing: several reads.
    for (int i = 0; i < 1500; ++i) writeFile(dir / "many/a rather long name " + std::to_string(i));
    ASSERT_EQ(posix.readDirectory((dir / "many").c_str(), entries), 0);
    EXPECT_EQ(entries.size(), 1501u);

    for (const auto& [path, error] :
         {std::pair{dir / "missing", ENOENT}, {dir / "f/song.mp3", ENOTDIR}}) {
        errno = 0;
        EXPECT_EQ(posix.readDirectory(path.c_str(), entries), -1) << path;
        EXPECT_EQ(errno, error) << path;
    }
#endif
}
