// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/FileLayout.h"

#include <taglib/apefooter.h>
#include <taglib/id3v2header.h>

#include <algorithm>

namespace kestrom::vbmp3 {
namespace {

constexpr long kId3v1Size = 128;
// More back-to-back tags than any tagger leaves: the rest is taken for audio.
constexpr int kMostLeadingTags = 64;

TagLib::ByteVector readAt(TagLib::IOStream& stream, long offset, long length) {
    stream.seek(offset);
    return stream.readBlock(static_cast<unsigned long>(length));
}

// The size of the ID3v2 tag at offset, or 0 when there is none.
long id3v2TagSize(TagLib::IOStream& stream, long offset, long length) {
    const auto headerSize = static_cast<long>(TagLib::ID3v2::Header::size());
    if (length - offset < headerSize) return 0;
    const TagLib::ByteVector data = readAt(stream, offset, headerSize);
    if (!data.startsWith(TagLib::ID3v2::Header::fileIdentifier())) return 0;
    for (int i = 6; i < 10; ++i)
        if (static_cast<unsigned char>(data[i]) >= 0x80) return 0;
    const TagLib::ID3v2::Header header(data);
    if (header.majorVersion() < 2 || header.majorVersion() > 4) return 0;
    const auto size = static_cast<long>(header.completeTagSize());
    return size <= length - offset ? size : 0;
}

}  // namespace

FileLayout readLayout(TagLib::IOStream& stream) {
    FileLayout layout;
    layout.length = std::max(stream.length(), 0L);
    for (long size; layout.leadingId3v2Tags < kMostLeadingTags &&
                    (size = id3v2TagSize(stream, layout.audioStart, layout.length)) > 0;) {
        layout.audioStart += size;
        if (++layout.leadingId3v2Tags == 1) layout.firstTagEnd = layout.audioStart;
    }

    layout.id3v1Start = layout.length;
    if (layout.length - layout.audioStart >= kId3v1Size &&
        readAt(stream, layout.length - kId3v1Size, 3) == TagLib::ByteVector("TAG"))
        layout.id3v1Start = layout.length - kId3v1Size;

    layout.audioEnd = layout.id3v1Start;
    const auto footerSize = static_cast<long>(TagLib::APE::Footer::size());
    if (layout.audioEnd - layout.audioStart >= footerSize) {
        const TagLib::ByteVector data = readAt(stream, layout.audioEnd - footerSize, footerSize);
        if (data.startsWith(TagLib::APE::Footer::fileIdentifier())) {
            const auto size = static_cast<long>(TagLib::APE::Footer(data).completeTagSize());
            if (size >= footerSize && size <= layout.audioEnd - layout.audioStart)
                layout.audioEnd -= size;
        }
    }
    return layout;
}

}  // namespace kestrom::vbmp3
