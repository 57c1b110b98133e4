// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the fuzz target's seeds into the folder given as the argument: small
// MP3 files (two silent frames) with each kind of tag the read path handles.
#include <taglib/apetag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>

#include <cstdio>
#include <functional>

#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::test;
using TagLib::String;

namespace {

// Two silent frames, tagged by TagLib through tag (ID3v2 in the given version).
void makeMp3(const std::string& path, const std::function<void(TagLib::MPEG::File&)>& tag,
             TagLib::ID3v2::Version version = TagLib::ID3v2::v3) {
    writeFile(path, silentAudio(2));
    TagLib::MPEG::File file(path.c_str());
    tag(file);
    file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, version,
              TagLib::File::DoNotDuplicate);
}

// An ID3v1 tag of raw bytes: title, artist, comment (each at most 30 bytes), genre.
std::string id3v1Tag(std::string title, std::string artist, std::string comment, char genre) {
    title.resize(30);
    artist.resize(30);
    comment.resize(30);
    return "TAG" + title + artist + std::string(34, '\0') + comment + genre;
}

std::string synchsafe(std::size_t value) {
    std::string out;
    for (int shift = 21; shift >= 0; shift -= 7) out += static_cast<char>((value >> shift) & 0x7F);
    return out;
}

// A frame whose size field is synchsafe (version 2.4) or plain (2.3).
std::string frame(int version, const std::string& id, const std::string& body,
                  const std::string& flags = std::string(2, '\0')) {
    std::string size;
    for (int shift = 24; shift >= 0; shift -= 8)
        size += static_cast<char>((body.size() >> shift) & 0xFF);
    return id + (version == 4 ? synchsafe(body.size()) : size) + flags + body;
}

std::string tag(int version, char flags, const std::string& body, std::size_t extra = 0) {
    return "ID3" + std::string(1, static_cast<char>(version)) + '\0' + flags +
           synchsafe(body.size() + extra) + body;
}

// Tags in the layouts the write path carries over: an extended header, grouped,
// compressed-looking and encrypted frames, a footer, frames unsynchronised with a
// data length, version 2.4 frames that version 2.3 lacks, tags back to back, and
// a size that claims more than its tag holds.
void writeLayoutSeeds(const std::string& dir) {
    using namespace std::string_literals;
    const std::string title = frame(3, "TIT2", "\0Title"s);
    writeFile(dir + "/w_extended.bin",
              tag(3, '\x40',
                  "\0\0\0\x06\0\0\0\0\0\x10"s + title + frame(3, "TXXX", "\x07\0a\0b"s, "\0\x20"s) +
                      frame(3, "TPE2", "\x80secret"s, "\0\x40"s) + std::string(16, '\0')));
    const std::string v24 = frame(4, "TIT2", "\x03題名"s) +
                            frame(4, "TDOR",
                                  "\x00"
                                  "2001-05-12"s) +
                            frame(4, "TMOO", "\x03静か"s) +
                            frame(4, "PRIV", synchsafe(6) + "o\0\xFF\x00\xE0x"s, "\0\x03"s);
    writeFile(dir + "/w_footer.bin",
              tag(4, '\x10', v24) + "3DI\x04\0\x10"s + synchsafe(v24.size()));
    writeFile(dir + "/w_stacked.bin", tag(3, 0,
                                          title + frame(3, "TRCK",
                                                        "\x00"
                                                        "1"s)) +
                                          tag(3, 0,
                                              frame(3, "TRCK",
                                                    "\x00"
                                                    "2"s) +
                                                  frame(3, "APIC", "\0image/png\0\x03\0PNG"s)));
    writeFile(dir + "/w_lying.bin", tag(3, 0,
                                        title + frame(3, "TRCK",
                                                      "\x00"
                                                      "7"s),
                                        200));
    writeFile(dir + "/w_v22.bin", tag(2, 0, "TT2\0\0\x06\0Title"s + "PIC\0\0\x09\0JPG\x03\0jpg"s));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const String japanese("夜明けのうた", String::UTF8);
    auto fill = [&](TagLib::Tag& tag) {
        tag.setTitle(japanese);
        tag.setArtist(String("Beyoncé ♥", String::UTF8));
        tag.setAlbum("Album");
        tag.setYear(2004);
        tag.setComment("comment");
        tag.setGenre("Pop");
    };
    makeMp3(dir + "/v23.mp3", [&](TagLib::MPEG::File& f) { fill(*f.ID3v2Tag(true)); });
    makeMp3(
        dir + "/v24.mp3", [&](TagLib::MPEG::File& f) { fill(*f.ID3v2Tag(true)); },
        TagLib::ID3v2::v4);
    makeMp3(dir + "/ape.mp3", [&](TagLib::MPEG::File& f) { fill(*f.APETag(true)); });
    writeFile(
        dir + "/v1_shiftjis.mp3",
        silentAudio(2) + id3v1Tag("\x96\xE9\x8B\xF3", "\xB6\xD7\xB5\xB9", "\x82\xA0\x83", 13));
    // ID3v2.3 frames marked ISO-8859-1 that hold Shift-JIS.
    writeFile(dir + "/v23_latin1.mp3",
              std::string("ID3\x03\0\0\0\0\0\x15", 10) + std::string("TIT2\0\0\0\x09\0\0\0", 11) +
                  "\x83\x5C\x83\x74\x83\x67\x95\x5C" + std::string(2, '\0') + silentAudio(2));
    writeLayoutSeeds(dir);
    // A file written by the tag library: escapes in the title.
    unsigned char block[VBMP3_TAG_INFO_SIZE] = "\17700E9t\177D83C\177DFB5";
    writeFile(dir + "/written.mp3", silentAudio(2));
    return vbmp3_setTagInfo((dir + "/written.mp3").c_str(), block, 1, 1) == 1 ? 0 : 1;
}
