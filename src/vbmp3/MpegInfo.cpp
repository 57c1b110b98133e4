// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/MpegInfo.h"

#include <taglib/mpegheader.h>
#include <taglib/xingheader.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/LittleEndian.h"

namespace kestrom::vbmp3 {
namespace {

void put(MpegInfoBlock& block, std::size_t offset, std::uint64_t value, std::size_t size) {
    platform::putLittleEndian(block.data() + offset, value, size);
}

std::uint64_t nonNegative(long long value) {
    return value > 0 ? static_cast<std::uint64_t>(value) : 0;
}

unsigned versionCode(TagLib::MPEG::Header::Version version) {
    switch (version) {
        case TagLib::MPEG::Header::Version1: return 1;
        case TagLib::MPEG::Header::Version2: return 2;
        case TagLib::MPEG::Header::Version2_5: return 3;
    }
    return 0;
}

}  // namespace

MpegInfoBlock mpegInfo(TagLib::MPEG::File& file, const FileLayout& layout) {
    MpegInfoBlock block{};
    const long firstFrame = layout.firstFrame;
    const TagLib::MPEG::Header first(&file, firstFrame, false);
    if (!first.isValid()) return block;
    // A VBR header (Xing, Info or VBRI) sits in the first frame.
    file.seek(firstFrame);
    const TagLib::MPEG::XingHeader xing(file.readBlock(static_cast<unsigned>(first.frameLength())));
    const bool vbrHeader = xing.isValid();

    unsigned flags = 0;
    if (first.protectionEnabled()) flags |= 0x01;
    if (first.isCopyrighted()) flags |= 0x02;
    if (first.isOriginal()) flags |= 0x04;
    if (vbrHeader) flags |= 0x08;

    const std::uint64_t audioSize =
        nonNegative(static_cast<long long>(layout.audioEnd) - firstFrame);
    // The length and the mean bit rate: from the VBR header's frame count and
    // size, else from the stream's size at the first frame's bit rate.
    std::uint64_t frames = 0;
    long long bitrate = first.bitrate();
    long long lengthMs = 0;
    if (vbrHeader && first.sampleRate() > 0 && xing.totalFrames() > 0) {
        frames = xing.totalFrames();
        const double exactMs =
            static_cast<double>(frames) * first.samplesPerFrame() * 1000.0 / first.sampleRate();
        lengthMs = std::llround(exactMs);
        bitrate = std::llround(xing.totalSize() * 8.0 / exactMs);
    } else if (first.bitrate() > 0 && first.sampleRate() > 0) {
        lengthMs = std::llround(static_cast<double>(audioSize) * 8.0 / first.bitrate());
        // A stream without a VBR header is taken for constant bit rate: its size
        // over the mean frame length (frames of one bit rate differ by padding).
        const double frameBytes =
            first.samplesPerFrame() / 8.0 * first.bitrate() * 1000.0 / first.sampleRate();
        frames =
            static_cast<std::uint64_t>(std::llround(static_cast<double>(audioSize) / frameBytes));
    }
    const bool mono = first.channelMode() == TagLib::MPEG::Header::SingleChannel;

    block[0] = static_cast<unsigned char>(versionCode(first.version()));
    block[1] = static_cast<unsigned char>(first.layer());
    block[2] = static_cast<unsigned char>(first.channelMode());
    block[3] = static_cast<unsigned char>(mono ? 1 : 2);
    block[4] = static_cast<unsigned char>(flags);
    block[5] = static_cast<unsigned char>(vbrHeader ? xing.type() : 0);
    put(block, 6, nonNegative(first.samplesPerFrame()), 2);
    put(block, 8, nonNegative(first.sampleRate()), 4);
    put(block, 12, nonNegative(bitrate), 4);
    put(block, 16, nonNegative(lengthMs), 4);
    put(block, 20, std::min<std::uint64_t>(frames, UINT32_MAX), 4);
    put(block, 24, nonNegative(firstFrame), 8);
    put(block, 32, audioSize, 8);
    put(block, 40, nonNegative(layout.length), 8);
    put(block, 48, nonNegative(first.bitrate()), 4);
    put(block, 52, nonNegative(first.frameLength()), 4);
    return block;
}

}  // namespace kestrom::vbmp3
