// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Mp3Files.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/Text.h"
#include "support/TempDir.h"

namespace kestrom::test {
namespace {

// Four bytes, big-endian, of bitsPerByte bits each (7: the tag's synchsafe size).
std::string bigEndian(std::size_t value, int bitsPerByte) {
    std::string out;
    for (int shift = 3 * bitsPerByte; shift >= 0; shift -= bitsPerByte)
        out += static_cast<char>((value >> shift) & ((1u << bitsPerByte) - 1));
    return out;
}

std::size_t readBigEndian(std::string_view data, std::size_t at, int bitsPerByte) {
    std::size_t value = 0;
    for (std::size_t i = at; i < at + 4; ++i)
        value = value << bitsPerByte | static_cast<unsigned char>(data[i]);
    return value;
}

// The end of an ID3v2 tag at the start of data (its header included), else 0.
std::size_t tagEnd(std::string_view data) {
    return data.starts_with("ID3") && data.size() >= 10 ? 10 + readBigEndian(data, 6, 7) : 0;
}

// The next string of a frame's body, up to its terminator (or the end), which
// it takes off the body. UTF-16 (encoding 1 after a byte order mark, 2
// big-endian) comes as UTF-8; the bytes of the other encodings as they are. A
// string of encoding 1 without its byte order mark loses its first character.
std::string takeString(std::string_view& body, int encoding) {
    const std::size_t width = encoding == 1 || encoding == 2 ? 2 : 1;
    std::size_t end = 0;
    while (end + width <= body.size() && body.substr(end, width) != std::string(width, '\0'))
        end += width;
    std::string_view text = body.substr(0, end);
    body.remove_prefix(std::min(end + width, body.size()));
    if (width == 1) return std::string(text);
    const std::size_t low = text.starts_with("\xFF\xFE") ? 0 : 1;  // where a unit's low byte is
    std::u16string units;
    for (std::size_t i = encoding == 1 ? 2 : 0; i + 1 < text.size(); i += 2)
        units += static_cast<char16_t>(static_cast<unsigned char>(text[i + 1 - low]) << 8 |
                                       static_cast<unsigned char>(text[i + low]));
    return platform::toUtf8(units);
}

}  // namespace

std::string silentAudio(int frames, unsigned seed) {
    std::string frame(417, '\0');
    // MPEG-1 Layer III, 128 kbit/s, 44.1 kHz, joint stereo
    frame.replace(0, 4, "\xFF\xFB\x90\x44");
    frame[10] = static_cast<char>(seed & 0xFF);
    frame[11] = static_cast<char>((seed >> 8) & 0xFF);
    std::string audio;
    for (int i = 0; i < frames; ++i) audio += frame;
    return audio;
}

void writeMp3(const std::string& path, const std::string& audio, const Mp3Tag* tag) {
    if (tag == nullptr) return writeFile(path, audio);
    const std::pair<std::string, const std::string*> fields[] = {
        {"TIT2", &tag->title}, {"TPE1", &tag->artist},  {"TALB", &tag->album},
        {"TYER", &tag->year},  {"COMM", &tag->comment}, {"TCON", &tag->genre}};
    std::string frames;
    for (const auto& [id, text] : fields) {
        if (text->empty()) continue;
        // UTF-16 with a byte order mark; a comment has its language and an empty
        // description first.
        std::string data = "\x01";
        if (id == "COMM") data += std::string("eng\xFF\xFE\0\0", 7);
        data += "\xFF\xFE";
        for (char16_t unit : platform::toUtf16(*text))
            data += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
        frames.append(id).append(bigEndian(data.size(), 8)).append(2, '\0').append(data);
    }
    writeFile(path,
              "ID3\x03" + std::string(2, '\0') + bigEndian(frames.size(), 7) + frames + audio);
}

std::vector<Id3Frame> readId3v2Frames(const std::string& path) {
    SCOPED_TRACE(path);
    return id3v2FramesOf(readFile(path));
}

std::vector<Id3Frame> id3v2FramesOf(std::string_view data) {
    std::vector<Id3Frame> frames;
    if (!data.starts_with("ID3\x03")) return frames;
    EXPECT_EQ(data[5], 0) << "unsynchronised or extended ID3v2 header";
    const std::size_t end = tagEnd(data);
    if (end > data.size()) ADD_FAILURE() << "the ID3v2 tag overruns the file";
    for (std::size_t at = 10; at + 10 <= std::min(end, data.size()) && data[at] != '\0';) {
        const std::string id(data.substr(at, 4));
        const std::size_t size = readBigEndian(data, at + 4, 8), start = at + 10;
        at = start + size;
        if (at > end || size == 0) {
            ADD_FAILURE() << "frame " << id << " overruns the tag";
            break;
        }
        Id3Frame& f = frames.emplace_back();
        f.id = id;
        f.flags = data.substr(start - 2, 2);
        f.body = data.substr(start, size);
        if ((id[0] != 'T' && id != "COMM") || f.flags != std::string(2, '\0')) continue;
        f.encoding = static_cast<unsigned char>(data[start]);
        std::string_view body = std::string_view(data).substr(start + 1, size - 1);
        if (id == "COMM") body.remove_prefix(3);  // the language
        if (id == "COMM") f.description = takeString(body, f.encoding);
        f.text = takeString(body, f.encoding);
    }
    return frames;
}

Mp3Tag readMp3Tag(const std::string& path) {
    std::map<std::string, std::string> texts;
    for (const Id3Frame& f : readId3v2Frames(path))
        if (f.description.empty()) texts.try_emplace(f.id, f.text);
    return {texts["TIT2"], texts["TPE1"], texts["TALB"],
            texts["TYER"], texts["COMM"], texts["TCON"]};
}

std::string audioOf(const std::string& path) {
    return audioIn(readFile(path));
}

std::string audioIn(std::string data) {
    data.erase(0, tagEnd(data));
    if (data.size() >= 128 && data.compare(data.size() - 128, 3, "TAG") == 0)
        data.resize(data.size() - 128);
    return data;
}

}  // namespace kestrom::test
