// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// MP3 files for the tests, made and read byte by byte here: neither TagLib nor the
// tag library's process-wide string handlers take part, so what a test reads is
// what the file holds.
namespace kestrom::test {

// The audio of a small valid MP3: frames silent MPEG-1 Layer III frames
// (128 kbit/s, 44.1 kHz, 417 bytes each). seed varies the bytes of the frames'
// side information, so that two files' audio can be told apart.
std::string silentAudio(int frames, unsigned seed = 0);

struct Mp3Tag {
    std::string title, artist, album, year, comment, genre;
    bool operator==(const Mp3Tag&) const = default;
};

// Writes an ID3v2.3 tag of UTF-16 frames (TIT2 TPE1 TALB TYER COMM TCON, one for
// each field that is not empty; texts UTF-8 in), then audio. No tag when tag is null.
void writeMp3(const std::string& path, const std::string& audio, const Mp3Tag* tag);

// A frame of an ID3v2.3 tag: its bytes, and a text frame (T...) or comment
// (COMM) without flags decoded from them.
struct Id3Frame {
    std::string id;           // "TIT2"
    int encoding = -1;        // 0 ISO-8859-1, 1 UTF-16 with a byte order mark, 2 UTF-16BE, 3 UTF-8
    std::string text;         // UTF-8 from UTF-16, else the bytes; a comment's: its text alone
    std::string description;  // COMM only
    std::string flags;        // the two flag bytes
    std::string body;         // everything after the frame's header
};

// The frames of the ID3v2.3 tag at the start of the file, in their order; none
// when it has no such tag. A frame that overruns its tag fails the test.
std::vector<Id3Frame> readId3v2Frames(const std::string& path);
// The same of the bytes of a file.
std::vector<Id3Frame> id3v2FramesOf(std::string_view data);

// The fields of the file's ID3v2.3 tag (the comment without a description);
// empty where there is none.
Mp3Tag readMp3Tag(const std::string& path);

// The file without its ID3v2 tag in front and its ID3v1 tag at the end: the audio.
std::string audioOf(const std::string& path);
std::string audioIn(std::string data);

}  // namespace kestrom::test
