// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the write path: any bytes as the tags in front of valid
// MPEG audio, written into through the plan the tag library makes, applied in
// memory as the file would be changed. After a write:
//  - the audio behind the tags is there, byte for byte, and ends the file but
//    for the new ID3v1 tag;
//  - the file starts with one ID3v2.3 tag whose frames fill it exactly up to its
//    zero padding;
//  - every version 2.3 frame the old tags held is in it, byte for byte, and no
//    fewer frames than the old tags held (the fields' own and comments aside);
//  - writing the same fields again changes nothing.
// A write that is refused leaves the bytes as they were, as every refusal does.
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"
#include "vbmp3/TagWriter.h"

using namespace kestrom::vbmp3;

namespace {

const TagFields kFields{u"夜明けのうた、七十文字を超える長い題名でも一文字も欠けずに届くこと",
                        u"歌手",
                        u"",
                        2004,
                        u"コメント",
                        13,
                        u"Pop"};

// Two MPEG-1 Layer III frames of 417 bytes, told apart from tags by their bytes.
std::string audio() {
    std::string frame(417, '\x55');
    frame.replace(0, 4, "\xFF\xFB\x90\x44");
    return frame + frame;
}

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "write fuzz: %s\n", why);
    __builtin_trap();
}

std::variant<WritePlan, WriteFailure> plan(const std::string& file) {
    ReadAheadStream stream(file);
    return planWrite(stream, readLayout(stream), kFields, {}, 1, 4096);
}

std::string applied(const std::string& file, const WritePlan& plan) {
    const auto tailStart = static_cast<std::size_t>(plan.tailStart);
    if (plan.kind == WritePlan::Kind::Unchanged) return file;
    const std::size_t keepFrom = plan.kind == WritePlan::Kind::InPlace
                                     ? plan.head.size()
                                     : static_cast<std::size_t>(plan.keepFrom);
    return plan.head + file.substr(keepFrom, tailStart - keepFrom) + plan.tail;
}

// The fields' own frames, and comments, which a write replaces or keeps.
bool owned(std::string_view id) {
    static const std::set<std::string_view> ids = {"TIT2", "TPE1", "TALB", "TYER", "TDRC",
                                                   "TDAT", "TIME", "TCON", "COMM"};
    return ids.contains(id);
}

std::uint32_t bigEndian(std::string_view bytes, int bits) {
    std::uint32_t value = 0;
    for (const char c : bytes)
        value = value << bits | (static_cast<unsigned char>(c) & ((1u << bits) - 1));
    return value;
}

// The frames of a plain version 2.3 tag at the start of data, each as its bytes,
// read here without the library; nothing when they do not fill the tag exactly
// up to its zero padding.
std::optional<std::multiset<std::string>> framesOf(std::string_view data) {
    if (data.size() < 10 || !data.starts_with(std::string_view("ID3\x03\0\0", 6)))
        return std::nullopt;
    const std::size_t end = 10 + bigEndian(data.substr(6, 4), 7);
    if (end > data.size()) return std::nullopt;
    std::multiset<std::string> frames;
    std::size_t at = 10;
    while (at + 10 <= end && data[at] != '\0') {
        const std::size_t size = bigEndian(data.substr(at + 4, 4), 8);
        if (size == 0 || at + 10 + size > end) return std::nullopt;
        frames.emplace(data.substr(at, 10 + size));
        at += 10 + size;
    }
    if (data.substr(at, end - at).find_first_not_of('\0') != std::string_view::npos)
        return std::nullopt;
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    installStringHandlers();
    const std::string sound = audio();
    const std::string file = std::string(reinterpret_cast<const char*>(data), size) + sound;
    const auto planned = plan(file);
    if (std::holds_alternative<WriteFailure>(planned)) return 0;
    const std::string written = applied(file, std::get<WritePlan>(planned));

    // The audio is there, and ends the file but for the ID3v1 tag.
    if (written.size() < sound.size() + 128 ||
        written.compare(written.size() - 128 - sound.size(), sound.size(), sound) != 0)
        fail("the audio changed");
    const auto frames = framesOf(written);
    if (!frames) fail("the new tag is not one whole version 2.3 tag");

    ReadAheadStream before(file);
    std::size_t others = 0;
    for (const Frame& frame : readLeadingTags(before).frames) {
        if (owned(frame.id)) continue;
        ++others;
        // A frame of version 2.3 goes as it was, but for UTF-16 strings given the
        // byte order mark version 2.3 requires.
        Frame asWritten = frame;
        asWritten.version = 3;
        const auto plain = frame.encryption ? std::nullopt : plainContent(frame);
        const auto content = plain ? contentForVersion3(frame.id, *plain) : std::nullopt;
        if (content && *content != *plain) {
            asWritten.decompressedSize.reset();
            asWritten.content = *content;
        }
        if (frame.version == 3 && !frames->contains(renderFrame(asWritten)))
            fail("a frame was lost");
    }
    std::size_t kept = 0;
    for (const std::string& frame : *frames)
        kept += owned(std::string_view(frame).substr(0, 4)) ? 0 : 1;
    if (kept < others) fail("fewer frames were kept than there were");

    const auto again = plan(written);
    if (!std::holds_alternative<WritePlan>(again) ||
        std::get<WritePlan>(again).kind != WritePlan::Kind::Unchanged)
        fail("a second write changes the file");
    return 0;
}
