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
    kestrom::platform::Posix posix;
    kestrom::taglib::Vbmp3 library{TAG_LIBRARY};
};

}  // namespace

// The library's tag (Japanese, accented and outside code page 932) reaches the work
// files, the karaoke copy gets its mark, and with the replace box ticked the tagged
// files move into the library under the library's own spelling of the name.
TEST_F(EndToEnd, TagsTravelIntoTheWorkFilesWhichMoveIntoTheLibrary) {
    const Mp3Tag song{"桜の歌", "歌手の名前", "Beyoncé Live", "1999", "♥ コメント", "Pop"};
    const Mp3Tag old{"old", "old", "old", "1980", "old", "Rock"};
    writeMp3(lib("Pop/SONG.MP3"), silentAudio(4, 1), &song);
    writeMp3(work("song.mp3"), silentAudio(4, 2), &old);
    writeMp3(work("song_k.MP3"), silentAudio(4, 3), &old);
    writeMp3(work("Other.mp3"), silentAudio(4, 4), &old);
    writeFile(work("Song.txt"), "lyrics");
    RecordingWindow window(dir / "lib", dir / "work", true);
    EXPECT_EQ(runTransfer(window, library, {}, posix).OkCount, 2);
    EXPECT_EQ(window.events.back(), "errors Other.mp3\r\n");

    EXPECT_TRUE(readMp3Tag(lib("Pop/SONG.MP3")) == song);
    EXPECT_EQ(audioOf(lib("Pop/SONG.MP3")), silentAudio(4, 2));
    Mp3Tag karaoke = song;
    karaoke.artist = "カラオケ";
    EXPECT_TRUE(readMp3Tag(lib("Pop/song_k.MP3")) == karaoke);
    EXPECT_EQ(audioOf(lib("Pop/song_k.MP3")), silentAudio(4, 3));
    EXPECT_EQ(readFile(lib("Pop/Song.txt")), "lyrics");
    EXPECT_EQ(readFile(lib("Pop/song_k.txt")), "lyrics");
    EXPECT_FALSE(exists(lib("Pop/song.mp3")));
    EXPECT_TRUE(readMp3Tag(work("Other.mp3")) == old);
    EXPECT_FALSE(exists(work("song.mp3")) || exists(work("Song.txt")));
}
