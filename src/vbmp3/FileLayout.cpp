// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/FileLayout.h"

#include <taglib/apefooter.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "vbmp3/Bytes.h"
#include "vbmp3/MpegSync.h"

namespace kestrom::vbmp3 {
namespace {

// How far after the leading tags the first audio frame is looked for.
constexpr long kMostBytesBeforeAudio = 1L << 20;
// Longer than any MPEG audio frame (MPEG-2.5 layer II at 160 kbit/s and 8 kHz: 2,881 bytes).
constexpr long kLongestFrame = 8L * 1024;

// True when the bytes begin as a container of another kind does: a frame sync
// found inside one is a chance match in its data.
bool startsAsOtherContainer(std::string_view head) {
    constexpr std::array<std::string_view, 5> kMagic = {"RIFF", "fLaC", "OggS", "FORM",
                                                        "\x30\x26\xB2\x75"};
    return std::any_of(kMagic.begin(), kMagic.end(),
                       [&](std::string_view magic) { return head.starts_with(magic); }) ||
           (head.size() >= 8 && head.substr(4, 4) == "ftyp");
}

}  // namespace

FileLayout readLayout(ReadAheadStream& stream) {
    FileLayout layout;
    layout.length = std::max(static_cast<long>(stream.length()), 0L);
    layout.leading = readLeadingTags(stream);
    layout.audioStart = layout.leading.end;

    layout.id3v1Start = layout.length;
    if (layout.length - layout.audioStart >= kId3v1Size &&
        stream.bytesAt(layout.length - kId3v1Size, 3) == TagLib::ByteVector("TAG"))
        layout.id3v1Start = layout.length - kId3v1Size;

    layout.audioEnd = layout.id3v1Start;
    const auto footerSize = static_cast<long>(TagLib::APE::Footer::size());
    if (layout.audioEnd - layout.audioStart >= footerSize) {
        const TagLib::ByteVector data = stream.bytesAt(layout.audioEnd - footerSize, footerSize);
        if (data.startsWith(TagLib::APE::Footer::fileIdentifier())) {
            const auto size = static_cast<long>(TagLib::APE::Footer(data).completeTagSize());
            if (size >= footerSize && size <= layout.audioEnd - layout.audioStart)
                layout.audioEnd -= size;
        }
    }

    const TagLib::ByteVector head = stream.bytesAt(layout.audioStart, 8);
    if (!startsAsOtherContainer(view(head)))
        layout.firstFrame = findAudio(
            stream, layout.audioStart,
            std::min(layout.audioEnd, layout.audioStart + kMostBytesBeforeAudio), layout.audioEnd);
    // Audio that starts inside the tags, in a frame whose size claims it: what
    // belongs to the frame and what to the audio cannot be told apart.
    if (layout.firstFrame >= 0 && layout.leading.count > 0 &&
        audioRunsInto(stream, layout.audioStart - kLongestFrame, layout.audioStart,
                      layout.firstFrame)) {
        layout.leading.roomIsPadding = false;
        if (layout.leading.damage.empty())
            layout.leading.damage = "the audio starts inside the tag";
    }
    return layout;
}

}  // namespace kestrom::vbmp3
