// SPDX-License-Identifier: GPL-3.0-or-later
#include "vbmp3/LeadingTags.h"

#include <algorithm>
#include <map>
#include <set>

#include "vbmp3/Bytes.h"
#include "vbmp3/MpegSync.h"

namespace kestrom::vbmp3 {
namespace {

constexpr long kTagHeaderSize = 10;
// More back-to-back tags than any tagger leaves: the rest is taken for audio.
constexpr int kMostLeadingTags = 64;
// How far past a tag's frames the start of the audio is looked for, when bytes
// that belong to no frame follow them.
constexpr long kMostStrayBytes = 1L << 20;

// Tag header flags.
constexpr unsigned char kUnsynchronised = 0x80;
constexpr unsigned char kExtendedHeader = 0x40;
constexpr unsigned char kCompressedTag = 0x40;  // version 2.2
constexpr unsigned char kFooter = 0x10;         // version 2.4

// A version 2.2 frame id and its version 2.3 id. The frames named here have the
// same layout in both versions, but the picture (PIC), which is converted.
const std::map<std::string_view, std::string_view>& version2Ids() {
    static const std::map<std::string_view, std::string_view> ids = {
        {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"EQU", "EQUA"},
        {"ETC", "ETCO"}, {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"MCI", "MCDI"}, {"MLL", "MLLT"},
        {"PIC", "APIC"}, {"POP", "POPM"}, {"REV", "RVRB"}, {"RVA", "RVAD"}, {"SLT", "SYLT"},
        {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"}, {"TCM", "TCOM"}, {"TCO", "TCON"},
        {"TCP", "TCMP"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"},
        {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"},
        {"TMT", "TMED"}, {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"},
        {"TOT", "TOAL"}, {"TP1", "TPE1"}, {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"},
        {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"}, {"TRD", "TRDA"}, {"TRK", "TRCK"},
        {"TS2", "TSO2"}, {"TSA", "TSOA"}, {"TSC", "TSOC"}, {"TSI", "TSIZ"}, {"TSP", "TSOP"},
        {"TSS", "TSSE"}, {"TST", "TSOT"}, {"TT1", "TIT1"}, {"TT2", "TIT2"}, {"TT3", "TIT3"},
        {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"},
        {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"},
        {"WPB", "WPUB"}, {"WXX", "WXXX"},
    };
    return ids;
}

unsigned long bigEndian(std::string_view bytes, int bitsPerByte) {
    unsigned long value = 0;
    for (const char c : bytes)
        value = value << bitsPerByte | (static_cast<unsigned char>(c) & ((1u << bitsPerByte) - 1));
    return value;
}

bool isSynchsafe(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isAllZero(std::string_view bytes) {
    return bytes.find_first_not_of('\0') == std::string_view::npos;
}

bool isFrameId(std::string_view id) {
    return std::all_of(id.begin(), id.end(),
                       [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// Undoes unsynchronisation: every FF 00 was an FF.
std::string resynchronise(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out += bytes[i];
        if (bytes[i] == '\xFF' && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
    }
    return out;
}

// Where in the unsynchronised bytes the resynchronised offset lies.
std::size_t unsynchronisedOffset(std::string_view bytes, std::size_t offset) {
    std::size_t i = 0;
    for (std::size_t produced = 0; produced < offset && i < bytes.size(); ++produced, ++i)
        if (bytes[i] == '\xFF' && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
    return i;
}

// The MIME type of a version 2.2 picture's three-letter image format.
std::string mimeType(std::string_view format) {
    if (format == "JPG") return "image/jpeg";
    if (format == "-->") return "-->";  // a link, kept as version 2.3 keeps it
    std::string type = "image/";
    for (const char c : format) type += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return type;
}

// One tag's frame area (from after the header and extended header to the end
// of its frames' space), resynchronised when the whole tag is unsynchronised.
class FrameArea {
public:
    FrameArea(int version, unsigned char flags, std::string area)
        : m_version(version), m_flags(flags), m_area(std::move(area)) {}

    // Reads frames from at on, into frames; returns where it stopped: at the
    // end, or at the first byte that starts no frame (zero padding, or bytes that
    // are no frame header).
    std::size_t read(std::size_t at, std::vector<Frame>& frames, std::string& damage) const;

private:
    std::size_t headerSize() const { return m_version == 2 ? 6 : 10; }
    bool frameStartsAt(std::size_t at) const;
    std::size_t frameSize(std::size_t at) const;
    bool take(std::string_view header, std::string_view data, Frame& frame,
              std::string& damage) const;

    int m_version;
    unsigned char m_flags;
    std::string m_area;
};

// True when a frame header whose frame fits the area starts at at.
bool FrameArea::frameStartsAt(std::size_t at) const {
    const std::size_t idSize = m_version == 2 ? 3 : 4;
    if (at + headerSize() > m_area.size() ||
        !isFrameId(std::string_view(m_area).substr(at, idSize)))
        return false;
    const std::size_t size = frameSize(at);
    return size > 0 && at + headerSize() + size <= m_area.size();
}

std::size_t FrameArea::frameSize(std::size_t at) const {
    const std::string_view area = m_area;
    if (m_version == 2) return bigEndian(area.substr(at + 3, 3), 8);
    const std::string_view raw = area.substr(at + 4, 4);
    if (m_version == 3 || !isSynchsafe(raw)) return bigEndian(raw, 8);
    // Version 2.4 sizes are synchsafe, but some taggers wrote them as plain
    // numbers: the one after which the next frame (or the end) follows is taken.
    const std::size_t synchsafe = bigEndian(raw, 7), plain = bigEndian(raw, 8);
    auto fitsAfter = [&](std::size_t size) {
        const std::size_t next = at + 10 + size;
        return next == area.size() ||
               (next + 4 <= area.size() &&
                (isFrameId(area.substr(next, 4)) || isAllZero(area.substr(next, 4))));
    };
    return fitsAfter(synchsafe) || !fitsAfter(plain) ? synchsafe : plain;
}

std::size_t FrameArea::read(std::size_t at, std::vector<Frame>& frames, std::string& damage) const {
    while (at + headerSize() <= m_area.size()) {
        const std::string_view area = m_area;
        if (area[at] == '\0') {
            // Padding, unless frames follow it (some taggers leave gaps).
            const std::size_t next = area.find_first_not_of('\0', at);
            if (next == std::string_view::npos || !frameStartsAt(next)) return at;
            at = next;
            continue;
        }
        const std::size_t idSize = m_version == 2 ? 3 : 4;
        if (!isFrameId(area.substr(at, idSize))) return at;
        const std::size_t size = frameSize(at);
        if (at + headerSize() + size > area.size()) {
            damage = "the frame " + std::string(area.substr(at, idSize)) + " overruns its tag";
            return at;
        }
        Frame frame;
        if (size > 0 && take(area.substr(at, headerSize()), area.substr(at + headerSize(), size),
                             frame, damage))
            frames.push_back(std::move(frame));
        at += headerSize() + size;
    }
    return at;
}

// Makes a frame of a header and its data, in version 2.3 terms. False when the
// frame cannot be carried over exactly (damage then says why).
bool FrameArea::take(std::string_view header, std::string_view data, Frame& frame,
                     std::string& damage) const {
    frame.version = m_version;
    if (m_version == 2) {
        const auto id = version2Ids().find(header.substr(0, 3));
        if (id == version2Ids().end()) {
            damage = "the version 2.2 frame " + std::string(header.substr(0, 3)) + " is unknown";
            return false;
        }
        frame.id = id->second;
        frame.content = data;
        // A picture names its image format in three letters, version 2.3 by MIME type.
        if (frame.id == "APIC" && data.size() >= 4)
            frame.content = std::string(data.substr(0, 1)) + mimeType(data.substr(1, 3)) + '\0' +
                            std::string(data.substr(4));
        return true;
    }
    frame.id = header.substr(0, 4);
    const auto status = static_cast<unsigned char>(header[8]);
    const auto format = static_cast<unsigned char>(header[9]);
    bool compressed = false, encrypted = false, grouped = false, unsynchronised = false;
    bool lengthIndicator = false;
    if (m_version == 3) {
        frame.status = status & 0xE0;
        compressed = (format & 0x80) != 0;
        encrypted = (format & 0x40) != 0;
        grouped = (format & 0x20) != 0;
    } else {
        // Version 2.4 moves the status flags one bit down.
        frame.status = static_cast<unsigned char>((status << 1) & 0xE0);
        grouped = (format & 0x40) != 0;
        compressed = (format & 0x08) != 0;
        encrypted = (format & 0x04) != 0;
        unsynchronised = (format & 0x02) != 0 || (m_flags & kUnsynchronised) != 0;
        lengthIndicator = (format & 0x01) != 0;
    }
    // The additions to the header, in the order the version gives them.
    std::size_t at = 0;
    auto takeBytes = [&](std::size_t count) -> std::optional<std::string_view> {
        if (at + count > data.size()) return std::nullopt;
        at += count;
        return data.substr(at - count, count);
    };
    std::optional<std::string_view> size, method, group;
    bool whole = true;
    if (m_version == 3) {
        if (compressed) whole &= (size = takeBytes(4)).has_value();
        if (encrypted) whole &= (method = takeBytes(1)).has_value();
        if (grouped) whole &= (group = takeBytes(1)).has_value();
    } else {
        if (grouped) whole &= (group = takeBytes(1)).has_value();
        if (encrypted) whole &= (method = takeBytes(1)).has_value();
        if (lengthIndicator) whole &= (size = takeBytes(4)).has_value();
    }
    if (!whole) {
        damage = "the frame " + frame.id + " is shorter than its flags say";
        return false;
    }
    if (group) frame.group = static_cast<unsigned char>((*group)[0]);
    if (method) frame.encryption = static_cast<unsigned char>((*method)[0]);
    frame.content = unsynchronised ? resynchronise(data.substr(at)) : std::string(data.substr(at));
    if (compressed) {
        if (m_version == 3 || (size && isSynchsafe(*size))) {
            frame.decompressedSize =
                static_cast<std::uint32_t>(bigEndian(*size, m_version == 3 ? 8 : 7));
        } else if (!encrypted) {
            // No length given: the size the frame inflates to.
            frame.decompressedSize = 0;
            const auto plain = plainContent(frame);
            if (!plain) {
                damage = "the compressed frame " + frame.id + " does not inflate";
                return false;
            }
            frame.decompressedSize = static_cast<std::uint32_t>(plain->size());
        } else {
            damage = "the frame " + frame.id + " is compressed and encrypted without its length";
            return false;
        }
    }
    return true;
}

// The identity under which a text frame of a later tag gives way to the same
// frame of an earlier one: its id, and a TXXX's description.
std::string textIdentity(const Frame& frame) {
    if (!isTextFrame(frame.id)) return {};
    if (frame.id != "TXXX") return frame.id;
    const auto content = plainContent(frame);
    const auto strings = content ? textStrings(*content) : std::nullopt;
    std::string identity = "TXXX";
    if (strings && !strings->empty())
        for (char16_t unit : strings->front()) identity += {char(unit >> 8), char(unit & 0xFF)};
    return identity;
}

// Adds the frames of a later tag to those of the earlier ones.
void merge(std::vector<Frame>& frames, std::vector<Frame> later, int tag) {
    if (tag == 0) {
        frames = std::move(later);
        return;
    }
    std::set<std::string> texts;
    for (const Frame& f : frames)
        if (std::string identity = textIdentity(f); !identity.empty()) texts.insert(identity);
    for (Frame& f : later) {
        const std::string identity = textIdentity(f);
        if (!identity.empty() && texts.contains(identity)) continue;
        // The same frame, whatever version of tag it came from.
        if (std::any_of(frames.begin(), frames.end(), [&](const Frame& earlier) {
                return earlier.id == f.id && earlier.content == f.content &&
                       earlier.status == f.status && earlier.group == f.group &&
                       earlier.encryption == f.encryption &&
                       earlier.decompressedSize == f.decompressedSize;
            }))
            continue;
        frames.push_back(std::move(f));
    }
}

struct TagHeader {
    int version = 0;
    unsigned char flags = 0;
    long size = 0;  // of the tag after its header, without a footer
};

std::optional<TagHeader> tagHeaderAt(ReadAheadStream& stream, long offset) {
    const TagLib::ByteVector data = stream.bytesAt(offset, kTagHeaderSize);
    const std::string_view bytes = view(data);
    if (bytes.size() != kTagHeaderSize || !bytes.starts_with("ID3")) return std::nullopt;
    const auto version = static_cast<unsigned char>(bytes[3]);
    if (version < 2 || version > 4 || bytes[4] == '\xFF' || !isSynchsafe(bytes.substr(6)))
        return std::nullopt;
    return TagHeader{version, static_cast<unsigned char>(bytes[5]),
                     static_cast<long>(bigEndian(bytes.substr(6), 7))};
}

// The length of the extended header at the start of area, or nothing when it
// does not hold together. A version 2.3 extended header gives its size without
// the four bytes of the size itself (some taggers count them): the one after
// which a frame or the padding starts is taken.
std::optional<std::size_t> extendedHeaderSize(std::string_view area, int version) {
    if (area.size() < 4) return std::nullopt;
    if (version == 4) {
        const std::size_t size =
            isSynchsafe(area.substr(0, 4)) ? bigEndian(area.substr(0, 4), 7) : 0;
        if (size < 6 || size > area.size()) return std::nullopt;
        return size;
    }
    const std::size_t size = bigEndian(area.substr(0, 4), 8);
    for (const std::size_t candidate : {size + 4, size}) {
        if (candidate < 10 || candidate > area.size()) continue;
        const std::string_view next = area.substr(candidate, 4);
        if (next.size() < 4 || isFrameId(next) || isAllZero(next)) return candidate;
    }
    return std::nullopt;
}

}  // namespace

bool isTagHeaderAt(ReadAheadStream& stream, long offset) {
    return tagHeaderAt(stream, offset).has_value();
}

LeadingTags readLeadingTags(ReadAheadStream& stream) {
    LeadingTags tags;
    const long length = static_cast<long>(stream.length());
    tags.roomIsPadding = true;
    long at = 0;
    for (std::optional<TagHeader> header;
         tags.count < kMostLeadingTags && (header = tagHeaderAt(stream, at));) {
        const bool footer = header->version == 4 && (header->flags & kFooter) != 0;
        const long areaStart = at + kTagHeaderSize;
        const long declaredEnd = areaStart + header->size + (footer ? kTagHeaderSize : 0);
        // A size that reaches past the end of the file is a size that lies.
        const long areaEnd = std::min(areaStart + header->size, length);
        const TagLib::ByteVector raw = stream.bytesAt(areaStart, areaEnd - areaStart);
        const std::string_view rawArea = view(raw);
        const bool wholeTagUnsynchronised =
            header->version < 4 && (header->flags & kUnsynchronised) != 0;
        std::string area = wholeTagUnsynchronised ? resynchronise(rawArea) : std::string(rawArea);
        std::size_t start = 0;
        if (header->version == 2 && (header->flags & kCompressedTag) != 0) {
            tags.damage = "the tag is compressed";
            start = area.size();
        } else if (header->version > 2 && (header->flags & kExtendedHeader) != 0) {
            const auto size = extendedHeaderSize(area, header->version);
            if (!size) tags.damage = "the extended header does not hold together";
            start = size.value_or(area.size());
        }
        std::vector<Frame> frames;
        const std::size_t stop =
            FrameArea(header->version, header->flags, area).read(start, frames, tags.damage);
        merge(tags.frames, std::move(frames), tags.count);
        ++tags.count;
        tags.declaredEnd = declaredEnd;

        // What follows the frames: zero padding up to where the header says the
        // tag ends, else the audio or another tag that starts early (the size
        // lies), else bytes that belong to nothing.
        const long stopOffset =
            areaStart +
            static_cast<long>(wholeTagUnsynchronised ? unsynchronisedOffset(rawArea, stop) : stop);
        const std::size_t firstByte =
            rawArea.find_first_not_of('\0', static_cast<std::size_t>(stopOffset - areaStart));
        if (firstByte == std::string_view::npos && declaredEnd <= length) {
            at = declaredEnd;
            continue;
        }
        tags.roomIsPadding = false;
        if (firstByte == std::string_view::npos) {  // the file ends inside the tag
            at = length;
            break;
        }
        const long stray = areaStart + static_cast<long>(firstByte);
        const long next =
            findAudio(stream, stray, std::min(length, stray + kMostStrayBytes), length, true);
        if (next == stray) {
            at = next;  // the size lies: the next thing starts where the frames end
        } else if (next > stray && next < areaEnd && !isTagHeaderAt(stream, next)) {
            at = stray;  // bytes of no frame, then the audio: kept as they are
            break;
        } else {
            if (tags.damage.empty()) tags.damage = "the tag holds bytes that are no frame";
            at = std::max(stray, std::min(declaredEnd, length));
        }
    }
    if (tags.count == 0) tags.roomIsPadding = false;
    tags.end = at;
    return tags;
}

}  // namespace kestrom::vbmp3
