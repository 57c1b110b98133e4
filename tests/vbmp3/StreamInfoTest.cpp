// SPDX-License-Identifier: GPL-3.0-or-later
// The stream information of a read, over generated MPEG streams. Every expected
// value is worked out here from the header fields the stream was made of.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <string>

#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::test;

namespace {

constexpr unsigned kApe = 1, kId3v1 = 2;  // tags behind the audio
constexpr int kXing = 1, kVbri = 2;       // VBR headers, as the block codes them

struct Stream {
    const char* name;
    int version;     // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
    int layer;       // 1, 2 or 3
    int kbps;        // of every frame; a VBR stream's frames alternate it with twice as much
    int sampleRate;  // Hz
    int mode;        // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    unsigned flags;  // header bits: 0x01 CRC, 0x02 copyrighted, 0x04 original
    int frames;      // audio frames
    int vbrHeader;   // in a frame of its own before the audio frames; 0 none
    unsigned tail;   // an APE and/or an ID3v1 tag behind the audio, holding the title
};

void PrintTo(const Stream& s, std::ostream* os) {
    *os << s.name;
}

// The bit rates of the header's index 1-14, and the sample rates of index 0-2.
constexpr int kBitRates[2][3][14] = {
    {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr int kSampleRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

int indexOf(const int* values, int count, int value) {
    const int i = static_cast<int>(std::find(values, values + count, value) - values);
    EXPECT_LT(i, count) << value << " is no value of the header";
    return i;
}

int samplesPerFrame(const Stream& s) {
    if (s.layer == 1) return 384;
    return s.layer == 2 || s.version == 1 ? 1152 : 576;
}

// Without padding; Layer I counts in slots of four bytes.
int frameLength(const Stream& s, int kbps) {
    if (s.layer == 1) return 12000 * kbps / s.sampleRate * 4;
    return samplesPerFrame(s) / 8 * 1000 * kbps / s.sampleRate;
}

std::string frame(const Stream& s, int kbps) {
    const int versionBits = s.version == 1 ? 3 : s.version == 2 ? 2 : 0;
    const int bitRate = 1 + indexOf(kBitRates[s.version == 1 ? 0 : 1][s.layer - 1], 14, kbps);
    const int sampleRate = indexOf(kSampleRates[s.version - 1], 3, s.sampleRate);
    const int noCrc = s.flags & 1 ? 0 : 1;
    const int copyright = s.flags & 2 ? 1 : 0, original = s.flags & 4 ? 1 : 0;
    std::string f(static_cast<std::size_t>(frameLength(s, kbps)), '\0');
    f[0] = '\xFF';
    f[1] = static_cast<char>(0xE0 | versionBits << 3 | (4 - s.layer) << 1 | noCrc);
    f[2] = static_cast<char>(bitRate << 4 | sampleRate << 2);
    f[3] = static_cast<char>(s.mode << 6 | copyright << 3 | original << 2);
    return f;
}

std::string bigEndian(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

std::string littleEndian(std::uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

// A VBR header frame that counts frames audio frames and bytes bytes (itself included).
std::string vbrHeaderFrame(const Stream& s, std::uint32_t frames, std::uint32_t bytes) {
    std::string f = frame(s, s.kbps);
    if (s.vbrHeader == kVbri) {  // right behind 32 bytes of side information
        f.replace(36, 18,
                  "VBRI" + bigEndian(1, 2) + bigEndian(0, 2) + bigEndian(75, 2) +
                      bigEndian(bytes, 4) + bigEndian(frames, 4));
    } else {  // right behind the side information
        const std::size_t sideInfo =
            s.version == 1 ? (s.mode == 3 ? 17 : 32) : (s.mode == 3 ? 9 : 17);
        const std::size_t crc = s.flags & 1 ? 2 : 0;
        f.replace(4 + crc + sideInfo, 16,
                  "Xing" + bigEndian(3, 4) + bigEndian(frames, 4) + bigEndian(bytes, 4));
    }
    return f;
}

std::string id3v1Tail() {
    std::string tag = "TAGTail";
    tag.resize(127, '\0');
    return tag + '\xFF';  // no genre
}

// An APEv2 tag of one item without a header: the item, then the footer.
std::string apeTail() {
    const std::string item = littleEndian(4) + littleEndian(0) + "Title" + '\0' + "Tail";
    return item + "APETAGEX" + littleEndian(2000) +
           littleEndian(static_cast<std::uint32_t>(item.size() + 32)) + littleEndian(1) +
           littleEndian(0) + std::string(8, '\0');
}

// The fields of the 56-byte block in the order and layout vbmp3.h gives.
struct Field {
    const char* name;
    std::size_t offset;
    std::size_t size;
};
constexpr Field kFields[] = {{"version", 0, 1},         {"layer", 1, 1},
                             {"channel mode", 2, 1},    {"channels", 3, 1},
                             {"flags", 4, 1},           {"VBR header", 5, 1},
                             {"samples", 6, 2},         {"sample rate", 8, 4},
                             {"bit rate", 12, 4},       {"length ms", 16, 4},
                             {"frames", 20, 4},         {"first frame offset", 24, 8},
                             {"audio size", 32, 8},     {"file size", 40, 8},
                             {"first bit rate", 48, 4}, {"first frame length", 52, 4}};
using Values = std::array<std::uint64_t, std::size(kFields)>;

class StreamInfo : public testing::TestWithParam<Stream> {};

}  // namespace

TEST_P(StreamInfo, DescribesTheStream) {
    const Stream& s = GetParam();
    std::string audio;
    std::uint64_t audioBytes = 0;
    for (int i = 0; i < s.frames; ++i)
        audio += frame(s, s.vbrHeader != 0 && i % 2 ? 2 * s.kbps : s.kbps);
    if (s.vbrHeader != 0) {
        audioBytes = audio.size() + static_cast<std::size_t>(frameLength(s, s.kbps));
        audio = vbrHeaderFrame(s, static_cast<std::uint32_t>(s.frames),
                               static_cast<std::uint32_t>(audioBytes)) +
                audio;
    }
    const std::string tail =
        (s.tail & kApe ? apeTail() : "") + (s.tail & kId3v1 ? id3v1Tail() : "");
    TempDir dir;
    const std::string path = dir / "Stream.mp3";
    const Mp3Tag tag{"Stream", "", "", "", "", ""};
    writeMp3(path, audio, s.tail != 0 ? nullptr : &tag);
    writeFile(path, readFile(path) + tail);
    const std::uint64_t fileSize = readFile(path).size();

    const double exactMs = 1000.0 * s.frames * samplesPerFrame(s) / s.sampleRate;
    const auto meanKbps =
        s.vbrHeader != 0 ? std::llround(static_cast<double>(audioBytes) * 8 / exactMs) : s.kbps;
    const Values expected = {static_cast<std::uint64_t>(s.version),
                             static_cast<std::uint64_t>(s.layer),
                             static_cast<std::uint64_t>(s.mode),
                             s.mode == 3 ? 1u : 2u,
                             s.flags | (s.vbrHeader != 0 ? 0x08u : 0u),
                             static_cast<std::uint64_t>(s.vbrHeader),
                             static_cast<std::uint64_t>(samplesPerFrame(s)),
                             static_cast<std::uint64_t>(s.sampleRate),
                             static_cast<std::uint64_t>(meanKbps),
                             static_cast<std::uint64_t>(std::llround(exactMs)),
                             static_cast<std::uint64_t>(s.frames),
                             fileSize - audio.size() - tail.size(),
                             audio.size(),
                             fileSize,
                             static_cast<std::uint64_t>(s.kbps),
                             static_cast<std::uint64_t>(frameLength(s, s.kbps))};

    unsigned char block[VBMP3_TAG_INFO_SIZE] = {};
    unsigned char info[VBMP3_MPEG_INFO_SIZE];
    ASSERT_EQ(vbmp3_getFileInfo(path.c_str(), block, info), 1);
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        std::uint64_t value = 0;
        for (std::size_t b = kFields[i].size; b-- > 0;)
            value = value << 8 | info[kFields[i].offset + b];
        EXPECT_EQ(value, expected[i]) << kFields[i].name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Vbmp3, StreamInfo,
    testing::Values(Stream{"Mpeg1Layer3JointStereo", 1, 3, 128, 48000, 1, 0, 20, 0, 0},
                    Stream{"Mpeg1Layer3MonoCrcCopyrightedOriginal", 1, 3, 64, 32000, 3, 0x07, 10, 0,
                           0},
                    Stream{"Mpeg1Layer2DualChannel", 1, 2, 192, 48000, 2, 0, 10, 0, 0},
                    // With CRC: TagLib 1.13 takes 0xFF 0xFF (Layer I without CRC) for no frame.
                    Stream{"Mpeg1Layer1StereoCrcOriginal", 1, 1, 128, 48000, 0, 0x05, 30, 0, 0},
                    Stream{"Mpeg2Layer3Mono", 2, 3, 64, 24000, 3, 0, 10, 0, 0},
                    Stream{"Mpeg2Layer2StereoCrc", 2, 2, 32, 16000, 0, 0x01, 10, 0, 0},
                    Stream{"Mpeg25Layer3Mono", 3, 3, 8, 8000, 3, 0, 10, 0, 0},
                    Stream{"XingHeader", 1, 3, 128, 48000, 1, 0, 25, kXing, 0},
                    Stream{"VbriHeader", 1, 3, 128, 48000, 0, 0, 25, kVbri, 0},
                    Stream{"ApeTail", 1, 3, 128, 48000, 1, 0, 10, 0, kApe},
                    Stream{"Id3v1Tail", 2, 3, 64, 24000, 3, 0, 10, 0, kId3v1},
                    Stream{"ApeAndId3v1Tail", 1, 3, 128, 48000, 1, 0x01, 10, kXing, kApe | kId3v1}),
    [](const testing::TestParamInfo<Stream>& p) { return std::string(p.param.name); });
