// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Mp3Files.h"

#include <gtest/gtest.h>

#include "platform/Text.h"
#include "support/TempDir.h"

namespace kestrom::test {
namespace {

constexpr std::size_t kHeaderSize = 10;  // of the tag and of each frame

std::size_t byteAt(std::string_view data, std::size_t i) {
    return static_cast<unsigned char>(data[i]);
}

// Four bytes, big-endian, of bitsPerByte bits each (7: the tag's synchsafe size).
std::string bigEndian(std::size_t value, int bitsPerByte) {
    std::string out;
    for (int shift = 3 * bitsPerByte; shift >= 0; shift -= bitsPerByte)
        out += static_cast<char>((value >> shift) & ((1u << bitsPerByte) - 1));
    return out;
}

std::size_t readBigEndian(std::string_view data, std::size_t at, int bitsPerByte) {
    std::size_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = value << bitsPerByte | byteAt(data, at + i);
    return value;
}

// Encoding byte 1: a byte order mark, then UTF-16LE.
std::string utf16WithBom(std::string_view utf8) {
    std::string out = "\xFF\xFE";
    for (char16_t unit : platform::toUtf16(utf8)) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

std::string frame(const std::string& id, const std::string& data) {
    return id + bigEndian(data.size(), 8) + std::string(2, '\0') + data;
}

// One string of encoding from data, up to its terminator (or the end); at moves
// past both.
std::string decodeString(std::string_view data, std::size_t& at, int encoding, bool* bom) {
    const bool wide = encoding == 1 || encoding == 2;
    std::size_t end = at;
    while (end < data.size() &&
           !(data[end] == 0 && (!wide || (end + 1 < data.size() && data[end + 1] == 0))))
        end += wide ? 2 : 1;
    std::string_view text = data.substr(at, std::min(end, data.size()) - at);
    at = std::min(end + (wide ? 2 : 1), data.size());
    if (encoding == 3) return std::string(text);
    if (!wide) {
        std::u16string latin1;
        for (char c : text) latin1 += static_cast<char16_t>(static_cast<unsigned char>(c));
        return platform::toUtf8(latin1);
    }
    bool littleEndian = false;
    if (encoding == 1 && text.size() >= 2 &&
        (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"))) {
        littleEndian = text[0] == '\xFF';
        if (bom != nullptr) *bom = true;
        text.remove_prefix(2);
    }
    std::u16string units;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const std::size_t first = byteAt(text, i), second = byteAt(text, i + 1);
        units += static_cast<char16_t>(littleEndian ? second << 8 | first : first << 8 | second);
    }
    return platform::toUtf8(units);
}

std::string textOf(const std::vector<Id3Frame>& frames, std::string_view id) {
    for (const Id3Frame& f : frames)
        if (f.id == id && (id != "COMM" || f.description.empty())) return f.text;
    return {};
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
    if (tag == nullptr) return writeFile(path, audio);
    std::string frames;
    for (const auto& [id, text] : {std::pair{"TIT2", &tag->title},
                                   {"TPE1", &tag->artist},
                                   {"TALB", &tag->album},
                                   {"TYER", &tag->year},
                                   {"COMM", &tag->comment},
                                   {"TCON", &tag->genre}}) {
        if (text->empty()) continue;
        // A comment: its language and an empty description before the text.
        const std::string prefix =
            id == std::string_view("COMM") ? "eng\xFF\xFE" + std::string(2, '\0') : "";
        frames += frame(id, '\x01' + prefix + utf16WithBom(*text));
    }
    writeFile(path,
              "ID3\x03" + std::string(2, '\0') + bigEndian(frames.size(), 7) + frames + audio);
}

std::vector<Id3Frame> readId3v2Frames(const std::string& path) {
    const std::string data = readFile(path);
    std::vector<Id3Frame> frames;
    if (data.size() < kHeaderSize || !data.starts_with("ID3\x03")) return frames;
    EXPECT_EQ(byteAt(data, 5), 0u) << path << ": unsynchronised or extended ID3v2 header";
    const std::size_t tagEnd = kHeaderSize + readBigEndian(data, 6, 7);
    if (tagEnd > data.size()) {
        ADD_FAILURE() << path << ": the ID3v2 tag overruns the file";
        return frames;
    }
    for (std::size_t at = kHeaderSize; at + kHeaderSize <= tagEnd && data[at] != '\0';) {
        const std::string id = data.substr(at, 4);
        const std::size_t size = readBigEndian(data, at + 4, 8);
        const std::size_t start = at + kHeaderSize;
        at = start + size;
        if (at > tagEnd || size == 0) {
            ADD_FAILURE() << path << ": frame " << id << " overruns the tag";
            break;
        }
        if (id[0] != 'T' && id != "COMM") continue;
        const std::string_view body = std::string_view(data).substr(start + 1, size - 1);
        Id3Frame& f = frames.emplace_back();
        f.id = id;
        f.encoding = static_cast<int>(byteAt(data, start));
        std::size_t pos = 0;
        if (id == "COMM") {
            pos = 3;  // the language
            f.description = decodeString(body, pos, f.encoding, nullptr);
        }
        f.text = decodeString(body, pos, f.encoding, &f.bom);
    }
    return frames;
}

Mp3Tag readMp3Tag(const std::string& path) {
    const std::vector<Id3Frame> frames = readId3v2Frames(path);
    return {textOf(frames, "TIT2"), textOf(frames, "TPE1"), textOf(frames, "TALB"),
            textOf(frames, "TYER"), textOf(frames, "COMM"), textOf(frames, "TCON")};
}

std::string audioOf(const std::string& path) {
    std::string data = readFile(path);
    if (data.size() >= kHeaderSize && data.compare(0, 3, "ID3") == 0) {
        std::size_t size = kHeaderSize + readBigEndian(data, 6, 7);
        if ((byteAt(data, 5) & 0x10u) != 0) size += kHeaderSize;  // a footer
        data.erase(0, std::min(size, data.size()));
    }
    if (data.size() >= 128 && data.compare(data.size() - 128, 3, "TAG") == 0)
        data.resize(data.size() - 128);
    return data;
}

}  // namespace kestrom::test
