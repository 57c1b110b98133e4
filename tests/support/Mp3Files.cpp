// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Mp3Files.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/Text.h"
#include "support/TempDir.h"

namespace kestrom::test {
namespace {

constexpr std::size_t kHeaderSize = 10;  // of the tag and of each frame

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

// One string of the frame's encoding from at up to its terminator (or the end);
// at moves past both. Encodings 1 (with a byte order mark) and 2 (big-endian)
// are UTF-16; the bytes of the others (ISO-8859-1, UTF-8) are taken as they are.
std::string decodeString(std::string_view data, std::size_t& at, int encoding, bool& bom) {
    const std::size_t width = encoding == 1 || encoding == 2 ? 2 : 1;
    std::size_t end = at;
    while (end + width <= data.size() && data.substr(end, width) != std::string(width, '\0'))
        end += width;
    std::string_view text = data.substr(at, end - at);
    at = std::min(end + width, data.size());
    if (width == 1) return std::string(text);
    bom = text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF");
    const bool littleEndian = bom && text[0] == '\xFF';
    if (bom) text.remove_prefix(2);
    std::u16string units;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto first = static_cast<unsigned char>(text[i]);
        const auto second = static_cast<unsigned char>(text[i + 1]);
        units += static_cast<char16_t>(littleEndian ? second << 8 | first : first << 8 | second);
    }
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
    std::string frames;
    for (const auto& [id, text] : {std::pair<std::string, const std::string*>{"TIT2", &tag->title},
                                   {"TPE1", &tag->artist},
                                   {"TALB", &tag->album},
                                   {"TYER", &tag->year},
                                   {"COMM", &tag->comment},
                                   {"TCON", &tag->genre}}) {
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
    const std::string data = readFile(path);
    std::vector<Id3Frame> frames;
    if (data.size() < kHeaderSize || !data.starts_with("ID3\x03")) return frames;
    EXPECT_EQ(data[5], 0) << path << ": unsynchronised or extended ID3v2 header";
    const std::size_t tagEnd = kHeaderSize + readBigEndian(data, 6, 7);
    if (tagEnd > data.size()) ADD_FAILURE() << path << ": the ID3v2 tag overruns the file";
    for (std::size_t at = kHeaderSize;
         at + kHeaderSize <= std::min(tagEnd, data.size()) && data[at] != '\0';) {
        const std::string id = data.substr(at, 4);
        const std::size_t size = readBigEndian(data, at + 4, 8), start = at + kHeaderSize;
        at = start + size;
        if (at > tagEnd || size == 0) {
            ADD_FAILURE() << path << ": frame " << id << " overruns the tag";
            break;
        }
        if (id[0] != 'T' && id != "COMM") continue;
        const std::string_view body = std::string_view(data).substr(start + 1, size - 1);
        Id3Frame& f = frames.emplace_back(
            Id3Frame{id, static_cast<unsigned char>(data[start]), false, "", ""});
        std::size_t pos = id == "COMM" ? 3 : 0;  // past the comment's language
        if (id == "COMM") f.description = decodeString(body, pos, f.encoding, f.bom);
        f.text = decodeString(body, pos, f.encoding, f.bom);
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
    std::string data = readFile(path);
    if (data.starts_with("ID3") && data.size() >= kHeaderSize)
        data.erase(0, kHeaderSize + readBigEndian(data, 6, 7));
    if (data.size() >= 128 && data.compare(data.size() - 128, 3, "TAG") == 0)
        data.resize(data.size() - 128);
    return data;
}

}  // namespace kestrom::test
