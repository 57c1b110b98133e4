// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/MpegSync.h"

#include <algorithm>
#include <array>

#include "vbmp3/LeadingTags.h"

namespace kestrom::vbmp3 {
namespace {

constexpr long kHeaderSize = 4;
// How much of the stream a search looks at at once.
constexpr long kWindow = 64L * 1024;

struct FrameHeader {
    long length = 0;         // of the whole frame, bytes; 0: no valid header
    unsigned signature = 0;  // version, layer and sample rate: equal in every frame of a stream
};

// The frame header in the four bytes h (MPEG-1, 2 and 2.5, layers I to III).
// Free-format frames (bit rate index 0) have no length to check and do not count.
FrameHeader frameHeader(const unsigned char* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return {};
    const unsigned version = (h[1] >> 3) & 3;  // 0: 2.5, 2: 2, 3: 1
    const unsigned layer = (h[1] >> 1) & 3;    // 1: III, 2: II, 3: I
    const unsigned rateIndex = h[2] >> 4;
    const unsigned sampleIndex = (h[2] >> 2) & 3;
    if (version == 1 || layer == 0 || rateIndex == 0 || rateIndex == 15 || sampleIndex == 3)
        return {};
    static constexpr std::array<std::array<unsigned, 15>, 5> kRates = {{
        {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG-1 I
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG-1 II
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG-1 III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG-2 I
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG-2 II, III
    }};
    static constexpr std::array<unsigned, 3> kSampleRates = {44100, 48000, 32000};
    const bool mpeg1 = version == 3;
    const unsigned table = mpeg1 ? 3 - layer : (layer == 3 ? 3 : 4);
    const unsigned long bitRate = kRates[table][rateIndex] * 1000UL;
    const unsigned sampleRate = kSampleRates[sampleIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const unsigned padding = (h[2] >> 1) & 1;
    long length = 0;
    if (layer == 3) {
        length = static_cast<long>((12 * bitRate / sampleRate + padding) * 4);
    } else {
        const unsigned long factor = layer == 1 && !mpeg1 ? 72 : 144;
        length = static_cast<long>(factor * bitRate / sampleRate + padding);
    }
    return {length, version << 4 | layer << 2 | sampleIndex};
}

FrameHeader frameHeaderAt(ReadAheadStream& stream, long offset) {
    const TagLib::ByteVector bytes = stream.bytesAt(offset, kHeaderSize);
    if (bytes.size() != kHeaderSize) return {};
    return frameHeader(reinterpret_cast<const unsigned char*>(bytes.data()));
}

}  // namespace

bool isAudioAt(ReadAheadStream& stream, long offset, long end) {
    const FrameHeader first = frameHeaderAt(stream, offset);
    if (first.length == 0) return false;
    const long next = offset + first.length;
    if (next == end) return true;
    return next < end && frameHeaderAt(stream, next).signature == first.signature &&
           frameHeaderAt(stream, next).length > 0;
}

bool audioRunsInto(ReadAheadStream& stream, long from, long before, long target) {
    from = std::max(from, 0L);
    if (from >= before || before > target) return false;
    const TagLib::ByteVector window = stream.bytesAt(from, target - from);
    const auto* bytes = reinterpret_cast<const unsigned char*>(window.data());
    const auto size = static_cast<long>(window.size());
    if (size != target - from) return false;
    // The frames of one stream share their version, layer and sample rate.
    const unsigned signature = frameHeaderAt(stream, target).signature;
    for (long start = 0; start < before - from && start + kHeaderSize <= size; ++start) {
        if (bytes[start] != 0xFF) continue;
        long at = start;
        for (FrameHeader h; at + kHeaderSize <= size && (h = frameHeader(bytes + at)).length > 0 &&
                            h.signature == signature;)
            at += h.length;
        if (at == size && at != start) return true;
    }
    return false;
}

long findAudio(ReadAheadStream& stream, long from, long limit, long end, bool orTag) {
    for (long start = from; start < limit; start += kWindow) {
        const long size = std::min(kWindow, limit - start);
        const TagLib::ByteVector window = stream.bytesAt(start, size);
        const auto* bytes = reinterpret_cast<const unsigned char*>(window.data());
        const auto got = static_cast<long>(window.size());
        for (long i = 0; i < got; ++i) {
            // A header inside the window is checked here first: most candidates fail at once.
            if (bytes[i] == 0xFF ? (i + kHeaderSize > got || frameHeader(bytes + i).length > 0) &&
                                       isAudioAt(stream, start + i, end)
                                 : orTag && bytes[i] == 'I' && isTagHeaderAt(stream, start + i))
                return start + i;
        }
        if (static_cast<long>(window.size()) < size)
            break;  // the end of the file, or a failed read
    }
    return -1;
}

}  // namespace kestrom::vbmp3
