// SPDX-License-Identifier: GPL-3.0-or-later
// Whole runs over real MP3 files with the real tag library.
#include <gtest/gtest.h>

#include "RecordingWindow.h"
#include "engine/Run.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;

namespace {

class EndToEnd : public ::testing::Test {
protected:
    std::string lib(std::string_view rel) const { return dir / ("lib/" + std::string(rel)); }
    std::string work(std::string_view rel) const { return dir / ("work/" + std::string(rel)); }

    TempDir dir;
    kestrom::taglib::Vbmp3 library{TAG_LIBRARY};
};

bool operator==(const Mp3Tag& a, const Mp3Tag& b) {
    return a.title == b.title && a.artist == b.artist && a.album == b.album && a.year == b.year &&
           a.comment == b.comment && a.genre == b.genre;
}

}  // namespace

TEST_F(EndToEnd, TagsTravelFromTheLibraryIntoTheWorkFiles) {
    const Mp3Tag song{"桜の歌", "歌手の名前", "Beyoncé Live", "1999", "♥ コメント", "Pop"};
    const Mp3Tag old{"old", "old", "old", "1980", "old", "Rock"};
    writeMp3(lib("Pop/Song.mp3"), silentAudio(4, 1), &song);
    writeMp3(work("Song.mp3"), silentAudio(4, 2), &old);
    writeMp3(work("song_k.MP3"), silentAudio(4, 3), &old);
    writeMp3(work("Other.mp3"), silentAudio(4, 4), &old);
    RecordingWindow window(dir / "lib", dir / "work");
    const RunSummary summary = runTransfer(window, library);

    EXPECT_EQ(summary.OkCount, 2);
    EXPECT_EQ(window.events.back(), "errors Other.mp3\r\n");
    EXPECT_TRUE(readMp3Tag(work("Song.mp3")) == song);
    Mp3Tag karaoke = song;
    karaoke.artist = "カラオケ";
    EXPECT_TRUE(readMp3Tag(work("song_k.MP3")) == karaoke);
    EXPECT_TRUE(readMp3Tag(work("Other.mp3")) == old);
    EXPECT_EQ(audioOf(work("Song.mp3")), silentAudio(4, 2));
    EXPECT_EQ(audioOf(work("song_k.MP3")), silentAudio(4, 3));
    EXPECT_EQ(audioOf(lib("Pop/Song.mp3")), silentAudio(4, 1));
}

TEST_F(EndToEnd, ReplaceMovesTaggedFilesIntoTheLibrary) {
    const Mp3Tag song{"Title", "Artist", "Album", "2001", "", "Jazz"};
    const Mp3Tag old{"old", "old", "", "", "", ""};
    writeMp3(lib("Pop/SONG.MP3"), silentAudio(4, 1), &song);
    writeMp3(work("song.mp3"), silentAudio(4, 2), &old);
    writeMp3(work("song_K.mp3"), silentAudio(4, 3), &old);
    writeFile(work("Song.txt"), "lyrics");
    RecordingWindow window(dir / "lib", dir / "work", true);
    EXPECT_EQ(runTransfer(window, library).OkCount, 2);
    EXPECT_TRUE(window.messages().empty());

    EXPECT_EQ(audioOf(lib("Pop/SONG.MP3")), silentAudio(4, 2));
    EXPECT_TRUE(readMp3Tag(lib("Pop/SONG.MP3")) == song);
    EXPECT_EQ(audioOf(lib("Pop/song_K.mp3")), silentAudio(4, 3));
    EXPECT_EQ(readMp3Tag(lib("Pop/song_K.mp3")).artist, "カラオケ");
    EXPECT_EQ(readFile(lib("Pop/Song.txt")), "lyrics");
    EXPECT_EQ(readFile(lib("Pop/song_K.txt")), "lyrics");
    EXPECT_FALSE(exists(lib("Pop/song.mp3")));
    EXPECT_FALSE(exists(work("song.mp3")));
    EXPECT_FALSE(exists(work("Song.txt")));
}
