// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestrom::test {

// The audio of a small valid MP3: frames silent MPEG-1 Layer III frames
// (128 kbit/s, 44.1 kHz, 417 bytes each). seed varies the bytes of the frames'
// side information, so that two files' audio can be told apart.
std::string silentAudio(int frames, unsigned seed = 0);

struct Mp3Tag {
    std::string title;
    std::string artist;
    std::string album;
    std::string year;
    std::string comment;
    std::string genre;
};

// Writes audio and, unless tag is null, an ID3v2.3 tag with UTF-16 texts (UTF-8 in).
void writeMp3(const std::string& path, const std::string& audio, const Mp3Tag* tag);

// The tag as TagLib reads it (texts as UTF-8); empty fields where there is none.
Mp3Tag readMp3Tag(const std::string& path);

// The file without its ID3v2 tag in front and its ID3v1 tag at the end: the audio.
std::string audioOf(const std::string& path);

}  // namespace kestrom::test
