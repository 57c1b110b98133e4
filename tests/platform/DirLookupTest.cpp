// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/DirLookup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>

#include "support/FaultyPosix.h"
#include "support/TempDir.h"

using namespace kestrom::platform;
using namespace kestrom::test;

namespace {

struct Query {
    const char* pattern;  // under the test's folder
    Filter filter;
    const char* found;  // every name the lookup returns, separated by blanks
    bool literal = false;
};

void expectFound(const TempDir& dir, std::initializer_list<Query> queries) {
    Posix posix;
    DirLookup lookup(posix);
    for (const Query& q : queries) {
        std::string found;
        for (std::string n = q.literal ? lookup.firstLiteral(dir / q.pattern, q.filter)
                                       : lookup.first(dir / q.pattern, q.filter);
             !n.empty(); n = lookup.next())
            found += " " + n;
        EXPECT_EQ(found.substr(found.empty() ? 0 : 1), q.found) << q.pattern;
    }
}

}  // namespace

TEST(DirLookup, FiltersShowVisibleFilesAndWithFolderTheFolders) {
    TempDir dir;
    for (const char* name : {"b.mp3", "A.MP3", "c.txt", ".hidden.mp3", "sub/x", ".hiddendir/x"})
        writeFile(dir / name);
    ASSERT_EQ(::mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "broken.mp3").c_str()), 0);
    ASSERT_EQ(::symlink("b.mp3", (dir / "link.mp3").c_str()), 0);
    ASSERT_EQ(::symlink("sub", (dir / "linkdir").c_str()), 0);
    expectFound(dir, {{"*.mp3", Filter::Plain, "A.MP3 b.mp3 link.mp3"},
                      {"", Filter::Plain, "A.MP3 b.mp3 c.txt link.mp3"},
                      {"", Filter::Folder, ". .. A.MP3 b.mp3 c.txt link.mp3 linkdir sub"},
                      {"linkdir", Filter::Folder, "linkdir"},
                      {"sub", Filter::Plain, ""},
                      {".hiddendir", Filter::Folder, ""},
                      {"pipe.mp3", Filter::Folder, ""}});
    Posix posix;
    DirLookup lookup(posix);
    ASSERT_EQ(lookup.first(dir / "linkdir", Filter::Folder), "linkdir");
    EXPECT_EQ(lookup.current().kind, EntryKind::Directory);
}

// Upper-cased, "_" (0x5F) comes after the letters and "Ａ" (U+FF21) after "_".
// A name without wildcards gives the exact spelling, else the first in byte order.
TEST(DirLookup, NamesMatchWithoutRegardToCaseWhateverTheLocaleInOneFixedOrder) {
    std::setlocale(LC_ALL, "C");
    TempDir dir;
    for (const char* name :
         {"_b.ogg", "B.ogg", "a.ogg", "ａ.ogg", "10.ogg", "9.ogg", "ｓｏｎｇ.MP3", "é.mp3",
          "カ.mp3", "SS.mp3", "song.MP3", "Song.mp3", "\xFF.mp3", "a*b.wav", "aXb.wav"})
        writeFile(dir / name);
    expectFound(dir, {{"*.ogg", Filter::Plain, "10.ogg 9.ogg a.ogg B.ogg _b.ogg ａ.ogg"},
                      {"ＳＯＮＧ.mp3", Filter::Plain, "ｓｏｎｇ.MP3"},
                      {"É.MP3", Filter::Plain, "é.mp3"},
                      {"か.mp3", Filter::Plain, ""},
                      {"ß.mp3", Filter::Plain, ""},
                      {"\xFF.MP3", Filter::Plain, "\xFF.mp3"},  // bytes that are not UTF-8
                      {"song.MP3", Filter::Plain, "song.MP3"},
                      {"SONG.MP3", Filter::Plain, "Song.mp3"},
                      {"s*.mp3", Filter::Plain, "Song.mp3 song.MP3 SS.mp3"},
                      {"a?b.wav", Filter::Plain, "a*b.wav aXb.wav"},
                      {"A*B.wav", Filter::Plain, "a*b.wav", true},  // "*" taken as a character
                      {"a?b.wav", Filter::Plain, "", true}});
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
