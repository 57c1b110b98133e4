// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Mp3Files.h"

#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <stdexcept>

#include "support/TempDir.h"

namespace kestrom::test {
namespace {

TagLib::String utf8(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

}  // namespace

std::string silentAudio(int frames, unsigned seed) {
    std::string frame(417, '\0');
    frame[0] = '\xFF';
    frame[1] = '\xFB';  // MPEG-1, Layer III, no CRC
    frame[2] = '\x90';  // 128 kbit/s, 44.1 kHz, no padding
    frame[3] = '\x44';  // joint stereo
    frame[10] = static_cast<char>(seed & 0xFF);
    frame[11] = static_cast<char>((seed >> 8) & 0xFF);
    std::string audio;
    for (int i = 0; i < frames; ++i) audio += frame;
    return audio;
}

void writeMp3(const std::string& path, const std::string& audio, const Mp3Tag* tag) {
    writeFile(path, audio);
    if (tag == nullptr) return;
    TagLib::MPEG::File file(path.c_str(), false);
    TagLib::ID3v2::Tag* id3 = file.ID3v2Tag(true);
    TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::UTF16);
    id3->setTitle(utf8(tag->title));
    id3->setArtist(utf8(tag->artist));
    id3->setAlbum(utf8(tag->album));
    id3->setYear(tag->year.empty() ? 0 : static_cast<unsigned>(std::stoul(tag->year)));
    id3->setComment(utf8(tag->comment));
    id3->setGenre(utf8(tag->genre));
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3))
        throw std::runtime_error("cannot tag " + path);
}

Mp3Tag readMp3Tag(const std::string& path) {
    TagLib::MPEG::File file(path.c_str(), false);
    Mp3Tag out;
    if (!file.isValid() || file.tag() == nullptr) return out;
    const TagLib::Tag* tag = file.tag();
    out.title = tag->title().to8Bit(true);
    out.artist = tag->artist().to8Bit(true);
    out.album = tag->album().to8Bit(true);
    out.year = tag->year() != 0 ? std::to_string(tag->year()) : "";
    out.comment = tag->comment().to8Bit(true);
    out.genre = tag->genre().to8Bit(true);
    return out;
}

std::string audioOf(const std::string& path) {
    std::string data = readFile(path);
    if (data.size() >= 10 && data.compare(0, 3, "ID3") == 0) {
        const auto b = [&](std::size_t i) {
            return static_cast<std::size_t>(static_cast<unsigned char>(data[i]));
        };
        std::size_t size = (b(6) << 21) | (b(7) << 14) | (b(8) << 7) | b(9);
        size += (b(5) & 0x10u) != 0 ? 20u : 10u;  // header, and footer when present
        data.erase(0, std::min(size, data.size()));
    }
    if (data.size() >= 128 && data.compare(data.size() - 128, 3, "TAG") == 0)
        data.resize(data.size() - 128);
    return data;
}

}  // namespace kestrom::test
