// SPDX-License-Identifier: GPL-3.0-or-later
// The stream information of a read, over generated MPEG streams. Every expected
// value is worked out here from the header fields the stream was made of.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::test;

namespace {

constexpr unsigned kApe = 1, kId3v1 = 2;  // tags behind the audio
constexpr int kXing = 1, kVbri = 2;       // VBR headers, as the block codes them

// version: 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5. kbps: of every frame; a VBR stream's
// frames alternate it with twice as much. mode: 0 stereo, 1 joint stereo, 2 dual
// channel, 3 mono. flags: header bits 0x01 CRC, 0x02 copyrighted, 0x04 original.
// vbrHeader: in a frame of its own before the audio frames. tail: an APE and/or
// an ID3v1 tag behind the audio, holding the title.
struct Stream {
    const char* name;
    int version, layer, kbps, sampleRate, mode;
    unsigned flags;
    int frames, vbrHeader;
    unsigned tail;
};

// The bit rates of the header's index 1-14 (MPEG-1, then MPEG-2 and 2.5; Layer
// I, II, III).
constexpr int kBitRates[2][3][14] = {
    {{32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};

int samplesPerFrame(const Stream& s) {
    return s.layer == 1 ? 384 : s.layer == 2 || s.version == 1 ? 1152 : 576;
}

// Without padding; Layer I counts in slots of four bytes.
int frameLength(const Stream& s, int kbps) {
    if (s.layer == 1) return 12000 * kbps / s.sampleRate * 4;
    return samplesPerFrame(s) / 8 * 1000 * kbps / s.sampleRate;
}

// The bytes of value, most significant first; little-endian when asked.
std::string bytesOf(std::uint32_t value, int count, bool littleEndian = false) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += static_cast<char>(value >> (8 * (littleEndian ? i : count - 1 - i)) & 0xFF);
    return out;
}

std::string frame(const Stream& s, int kbps) {
    const int* rates = kBitRates[s.version == 1 ? 0 : 1][s.layer - 1];
    const auto bitRate = std::find(rates, rates + 14, kbps) - rates + 1;
    // Index 0-2: 44100, 48000, 32000 Hz in MPEG-1, half that in MPEG-2, a quarter in MPEG-2.5.
    const int mpeg1Rate = s.sampleRate << (s.version - 1);
    const int sampleRate = mpeg1Rate == 44100 ? 0 : mpeg1Rate == 48000 ? 1 : 2;
    EXPECT_TRUE(bitRate <= 14 && (sampleRate < 2 || mpeg1Rate == 32000))
        << "no header has these rates";
    const int versionBits[] = {0, 3, 2, 0};  // by version
    std::string f(static_cast<std::size_t>(frameLength(s, kbps)), '\0');
    f[0] = '\xFF';
    f[1] = static_cast<char>(0xE0 | versionBits[s.version] << 3 | (4 - s.layer) << 1 |
                             (s.flags & 1 ? 0 : 1));
    f[2] = static_cast<char>(bitRate << 4 | sampleRate << 2);
    f[3] = static_cast<char>(s.mode << 6 | (s.flags & 2 ? 1 : 0) << 3 | (s.flags & 4 ? 1 : 0) << 2);
    return f;
}

// A VBR header frame that counts frames audio frames and bytes bytes (itself
// included): VBRI right behind 32 bytes of side information, Xing right behind
// the side information.
std::string vbrHeaderFrame(const Stream& s, std::uint32_t frames, std::uint32_t bytes) {
    std::string f = frame(s, s.kbps);
    if (s.vbrHeader == kVbri)
        return f.replace(36, 18,
                         "VBRI" + bytesOf(1, 2) + bytesOf(0, 2) + bytesOf(75, 2) +
                             bytesOf(bytes, 4) + bytesOf(frames, 4));
    const std::size_t sideInfo = s.version == 1 ? (s.mode == 3 ? 17 : 32) : (s.mode == 3 ? 9 : 17);
    return f.replace(4 + (s.flags & 1 ? 2 : 0) + sideInfo, 16,
                     "Xing" + bytesOf(3, 4) + bytesOf(frames, 4) + bytesOf(bytes, 4));
}

// An ID3v1 tag without a genre; an APEv2 tag of one item without a header: the
// item, then the footer.
std::string tail(unsigned tags) {
    const std::string item = bytesOf(4, 4, true) + bytesOf(0, 4, true) + "Title" + '\0' + "Tail";
    const std::string ape = item + "APETAGEX" + bytesOf(2000, 4, true) +
                            bytesOf(static_cast<std::uint32_t>(item.size() + 32), 4, true) +
                            bytesOf(1, 4, true) + std::string(12, '\0');
    const std::string id3v1 = "TAGTail" + std::string(120, '\0') + '\xFF';
    return (tags & kApe ? ape : "") + (tags & kId3v1 ? id3v1 : "");
}

// The sizes of the 56-byte block's fields, one after the other as vbmp3.h lays
// them out: version, layer, channel mode, channels, flags, VBR header, samples a
// frame, sample rate, bit rate, length in ms, frames, first frame's offset, audio
// size, file size, first frame's bit rate, first frame's length.
constexpr std::size_t kFieldSizes[] = {1, 1, 1, 1, 1, 1, 2, 4, 4, 4, 4, 8, 8, 8, 4, 4};

}  // namespace

// With CRC in Layer I: TagLib 1.13 takes 0xFF 0xFF (Layer I without CRC) for no frame.
const Stream kStreams[] = {
    {"Mpeg1Layer3JointStereo", 1, 3, 128, 48000, 1, 0, 20, 0, 0},
    {"Mpeg1Layer3MonoCrcCopyrightedOriginal", 1, 3, 64, 32000, 3, 0x07, 10, 0, 0},
    {"Mpeg1Layer2DualChannel", 1, 2, 192, 48000, 2, 0, 10, 0, 0},
    {"Mpeg1Layer1StereoCrcOriginal", 1, 1, 128, 48000, 0, 0x05, 30, 0, 0},
    {"Mpeg2Layer3Mono", 2, 3, 64, 24000, 3, 0, 10, 0, 0},
    {"Mpeg2Layer2StereoCrc", 2, 2, 32, 16000, 0, 0x01, 10, 0, 0},
    {"Mpeg25Layer3Mono", 3, 3, 8, 8000, 3, 0, 10, 0, 0},
    {"XingHeader", 1, 3, 128, 48000, 1, 0, 25, kXing, 0},
    {"VbriHeader", 1, 3, 128, 48000, 0, 0, 25, kVbri, 0},
    {"ApeTail", 1, 3, 128, 48000, 1, 0, 10, 0, kApe},
    {"Id3v1Tail", 2, 3, 64, 24000, 3, 0, 10, 0, kId3v1},
    {"ApeAndId3v1Tail", 1, 3, 128, 48000, 1, 0x01, 10, kXing, kApe | kId3v1}};

TEST(StreamInfo, DescribesTheStream) {
    for (const Stream& s : kStreams) {
        SCOPED_TRACE(s.name);
        const bool vbr = s.vbrHeader != 0;
        std::string audio;
        for (int i = 0; i < s.frames; ++i) audio += frame(s, vbr && i % 2 ? 2 * s.kbps : s.kbps);
        const auto audioBytes = audio.size() + (vbr ? std::size_t(frameLength(s, s.kbps)) : 0);
        if (vbr) audio.insert(0, vbrHeaderFrame(s, unsigned(s.frames), unsigned(audioBytes)));
        TempDir dir;
        const std::string path = dir / "Stream.mp3";
        const Mp3Tag tag{"Stream", "", "", "", "", ""};
        writeMp3(path, audio, s.tail != 0 ? nullptr : &tag);
        writeFile(path, readFile(path) + tail(s.tail));
        const std::uint64_t fileSize = readFile(path).size();
        const double exactMs = 1000.0 * s.frames * samplesPerFrame(s) / s.sampleRate;
        const auto meanKbps = vbr ? std::llround(double(audioBytes) * 8 / exactMs) : s.kbps;

        unsigned char block[VBMP3_TAG_INFO_SIZE] = {};
        unsigned char info[VBMP3_MPEG_INFO_SIZE];
        ASSERT_EQ(vbmp3_getFileInfo(path.c_str(), block, info), 1);
        std::vector<std::uint64_t> read;
        for (std::size_t at = 0; const std::size_t size : kFieldSizes) {
            read.push_back(0);
            for (std::size_t b = size; b-- > 0;) read.back() = read.back() << 8 | info[at + b];
            at += size;
        }
        EXPECT_EQ(read,
                  (std::vector<std::uint64_t>{
                      unsigned(s.version), unsigned(s.layer), unsigned(s.mode),
                      s.mode == 3 ? 1u : 2u, s.flags | (vbr ? 0x08u : 0u), unsigned(s.vbrHeader),
                      unsigned(samplesPerFrame(s)), unsigned(s.sampleRate), std::uint64_t(meanKbps),
                      std::uint64_t(std::llround(exactMs)), unsigned(s.frames),
                      fileSize - audio.size() - tail(s.tail).size(), audio.size(), fileSize,
                      unsigned(s.kbps), unsigned(frameLength(s, s.kbps))}));
    }
}
