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
using kestrom::test::makeDirs;
using kestrom::test::TempDir;
using kestrom::test::writeFile;

namespace {

std::vector<std::string> all(DirLookup& lookup, const std::string& pattern, Filter filter) {
    std::vector<std::string> names;
    for (std::string n = lookup.first(pattern, filter); !n.empty(); n = lookup.next())
        names.push_back(n);
    return names;
}

class DirLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(dir / "b.mp3");
        writeFile(dir / "A.MP3");
        writeFile(dir / "c.txt");
        writeFile(dir / ".hidden.mp3");
        makeDirs(dir / "sub");
        makeDirs(dir / ".hiddendir");
        ASSERT_EQ(::mkfifo((dir / "pipe.mp3").c_str(), 0600), 0);
        ASSERT_EQ(::symlink("nowhere", (dir / "broken.mp3").c_str()), 0);
        ASSERT_EQ(::symlink("b.mp3", (dir / "link.mp3").c_str()), 0);
        ASSERT_EQ(::symlink("sub", (dir / "linkdir").c_str()), 0);
    }
    TempDir dir;
    Posix posix;
    DirLookup lookup{posix};
};

}  // namespace

TEST_F(DirLookupTest, PlainFilterReturnsVisibleRegularFilesOnly) {
    EXPECT_EQ(all(lookup, dir / "*.mp3", Filter::Plain),
              (std::vector<std::string>{"A.MP3", "b.mp3", "link.mp3"}));
    EXPECT_EQ(all(lookup, dir / "", Filter::Plain),
              (std::vector<std::string>{"A.MP3", "b.mp3", "c.txt", "link.mp3"}));
}

TEST_F(DirLookupTest, FolderFilterAddsFoldersAndTheDotEntries) {
    EXPECT_EQ(all(lookup, dir / "", Filter::Folder),
              (std::vector<std::string>{".", "..", "A.MP3", "b.mp3", "c.txt", "link.mp3", "linkdir",
                                        "sub"}));
    ASSERT_EQ(lookup.first(dir / "linkdir", Filter::Folder), "linkdir");
    EXPECT_EQ(lookup.current().kind, EntryKind::Directory);
    EXPECT_EQ(lookup.first(dir / "sub", Filter::Plain), "");
    EXPECT_EQ(lookup.first(dir / ".hiddendir", Filter::Folder), "");
    EXPECT_EQ(lookup.first(dir / "pipe.mp3", Filter::Folder), "");
}

TEST(DirLookup, OrderIsByUpperCasedNamesWhateverTheCreationOrder) {
    TempDir dir;
    for (const char* name : {"_b.mp3", "B.mp3", "a.mp3", "ａ.mp3", "10.mp3", "9.mp3"})
        writeFile(dir / name);
    Posix posix;
    DirLookup lookup(posix);
    // Upper-cased: 10, 9, A, B, _B (0x5F after the letters), Ａ (U+FF21).
    EXPECT_EQ(all(lookup, dir / "*", Filter::Plain),
              (std::vector<std::string>{"10.mp3", "9.mp3", "a.mp3", "B.mp3", "_b.mp3", "ａ.mp3"}));
}

TEST(DirLookup, NamesMatchWithoutRegardToCaseWhateverTheLocale) {
    std::setlocale(LC_ALL, "C");
    TempDir dir;
    for (const char* name :
         {"ｓｏｎｇ.MP3", "é.mp3", "カ.mp3", "SS.mp3", "song.MP3", "Song.mp3", "\xFF.mp3"})
        writeFile(dir / name);
    Posix posix;
    DirLookup lookup(posix);
    EXPECT_EQ(lookup.first(dir / "ＳＯＮＧ.mp3", Filter::Plain), "ｓｏｎｇ.MP3");
    EXPECT_EQ(lookup.first(dir / "É.MP3", Filter::Plain), "é.mp3");
    EXPECT_EQ(lookup.first(dir / "か.mp3", Filter::Plain), "");
    EXPECT_EQ(lookup.first(dir / "ß.mp3", Filter::Plain), "");
    EXPECT_EQ(lookup.first(dir / "\xFF.MP3", Filter::Plain),
              "\xFF.mp3");  // bytes that are not UTF-8
    // Names that differ only in case: the exact spelling, else the first in byte order.
    EXPECT_EQ(lookup.first(dir / "song.MP3", Filter::Plain), "song.MP3");
    EXPECT_EQ(lookup.next(), "");
    EXPECT_EQ(lookup.first(dir / "SONG.MP3", Filter::Plain), "Song.mp3");
    EXPECT_EQ(
        all(lookup, dir / "s*.mp3", Filter::Plain),
        (std::vector<std::string>{"Song.mp3", "song.MP3", "SS.mp3"}));  // not the full-width one
}

TEST(DirLookup, LiteralLookupTakesWildcardCharactersAsName) {
    TempDir dir;
    writeFile(dir / "a*b.mp3");
    writeFile(dir / "aXb.mp3");
    Posix posix;
    DirLookup lookup(posix);
    EXPECT_EQ(lookup.firstLiteral(dir / "A*B.mp3", Filter::Plain), "a*b.mp3");
    EXPECT_EQ(lookup.firstLiteral(dir / "a?b.mp3", Filter::Plain), "");
    EXPECT_EQ(all(lookup, dir / "a?b.mp3", Filter::Plain),
              (std::vector<std::string>{"a*b.mp3", "aXb.mp3"}));
}

TEST(DirLookup, UnreadableFolderReturnsNothingAndTellsWhy) {
    TempDir dir;
    writeFile(dir / "a.mp3");
    kestrom::test::FaultyPosix posix;
    posix.failAt(kestrom::test::Call::ListDirectory, 1, EACCES);
    DirLookup lookup(posix);
    EXPECT_EQ(lookup.first(dir / "*.mp3", Filter::Plain), "");
    EXPECT_EQ(lookup.lastError(), EACCES);
    EXPECT_EQ(lookup.first(dir / "*.mp3", Filter::Plain), "a.mp3");
    EXPECT_EQ(lookup.lastError(), 0);
    EXPECT_EQ(lookup.first(dir / "missing/", Filter::Folder), "");
    EXPECT_EQ(lookup.lastError(), ENOENT);
}
