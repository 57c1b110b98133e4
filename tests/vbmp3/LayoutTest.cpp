// SPDX-License-Identifier: GPL-3.0-or-later
// Tags as taggers really write them, built byte by byte in memory: each is
// read as a library file would be, and written into as a work file through the
// write path's plan, applied in memory and checked with the tests' own reader.
#include <gtest/gtest.h>
#include <zlib.h>

#include <set>

#include "platform/Text.h"
#include "support/Mp3Files.h"
#include "vbmp3/TagReader.h"
#include "vbmp3/TagText.h"
#include "vbmp3/TagWriter.h"

using namespace kestrom;
using namespace kestrom::test;
using vbmp3::WritePlan;
using namespace std::string_literals;

namespace {

const std::u16string kTitle =
    u"七十文字の題名：春の夜明けに聞こえてくる遠い鐘の音と、川のほとりで歌う人々の声を集めた"
    u"長い長い曲の名前です";
const vbmp3::TagFields kFields{kTitle, u"歌手", u"アルバム", 2024, u"コメント", 13, u"Pop"};

std::string bigEndian(std::size_t value, int bitsPerByte, int bytes = 4) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((value >> (i * bitsPerByte)) & ((1u << bitsPerByte) - 1));
    return out;
}

const std::string kNoFlags(2, '\0');

// A frame of the version's layout; plainSize: a version 2.4 size written as a
// plain number, as some taggers did.
std::string frame(int version, std::string_view id, std::string_view body,
                  std::string_view flags = kNoFlags, bool plainSize = false) {
    if (version == 2) return std::string(id) + bigEndian(body.size(), 8, 3) + std::string(body);
    const std::string size = bigEndian(body.size(), version == 4 && !plainSize ? 7 : 8);
    return std::string(id) + size + std::string(flags) + std::string(body);
}

// A tag whose size field says delta bytes more than its body holds.
std::string tag(int version, unsigned char flags, std::string_view body, long delta = 0) {
    return "ID3" + std::string(1, static_cast<char>(version)) + '\0' + static_cast<char>(flags) +
           bigEndian(body.size() + static_cast<std::size_t>(delta), 7) + std::string(body);
}

// Text content: an encoding byte, then UTF-8 text in that encoding (1 with a
// byte order mark, 2 big-endian without one; 5 and 6: encoding 1 without a mark,
// little- and big-endian).
std::string text(int encoding, std::string_view utf8) {
    if (encoding == 0 || encoding == 3) return static_cast<char>(encoding) + std::string(utf8);
    const bool big = encoding == 2 || encoding == 6;
    std::string out(1, static_cast<char>(encoding == 2 ? 2 : 1));
    if (encoding == 1) out += "\xFF\xFE";
    for (char16_t unit : platform::toUtf16(utf8))
        out += big ? std::string{char(unit >> 8), char(unit & 0xFF)}
                   : std::string{char(unit & 0xFF), char(unit >> 8)};
    return out;
}

std::string compressed(std::string_view data) {
    std::string out(compressBound(static_cast<uLong>(data.size())), '\0');
    uLongf size = static_cast<uLongf>(out.size());
    compress(reinterpret_cast<Bytef*>(out.data()), &size,
             reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()));
    out.resize(size);
    return out;
}

std::string unsynchronised(std::string_view data) {
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += data[i];
        if (data[i] == '\xFF' &&
            (i + 1 == data.size() || (data[i + 1] & 0xE0) == 0xE0 || data[i + 1] == 0))
            out += '\0';
    }
    return out;
}

const std::string kAudio = silentAudio(40);
// A picture whose bytes hold MPEG frame headers, as compressed data may: a
// search for the audio must never look inside frames.
const std::string kPicture = "\0image/jpeg\0\x03\0"s + silentAudio(600, 7);
const std::string kTrack = frame(3, "TRCK", text(0, "7/12"));
const std::string kApic = frame(3, "APIC", kPicture);

std::string readTitle(const std::string& file) {
    vbmp3::ReadAheadStream stream(file);
    const auto info = vbmp3::readFileInfo(stream);
    return info ? platform::toUtf8(info->fields.title) : "(unreadable)";
}

std::variant<WritePlan, vbmp3::WriteFailure> plan(const std::string& file, nlink_t links = 1,
                                                  std::size_t blockSize = 4096) {
    vbmp3::ReadAheadStream stream(file);
    return vbmp3::planWrite(stream, vbmp3::readLayout(stream), kFields, {}, links, blockSize);
}

std::string applied(const std::string& file, const WritePlan& plan) {
    switch (plan.kind) {
        case WritePlan::Kind::Unchanged: return file;
        case WritePlan::Kind::InPlace:
            return plan.head +
                   file.substr(plan.head.size(),
                               static_cast<std::size_t>(plan.tailStart) - plan.head.size()) +
                   plan.tail;
        case WritePlan::Kind::Rewrite:
            return plan.head +
                   file.substr(static_cast<std::size_t>(plan.keepFrom),
                               static_cast<std::size_t>(plan.tailStart - plan.keepFrom)) +
                   plan.tail;
    }
    return {};
}

bool isOwned(const Id3Frame& f) {
    static const std::set<std::string> owned = {"TIT2", "TPE1", "TALB", "TYER",
                                                "TDAT", "TIME", "TCON"};
    return owned.contains(f.id) || (f.id == "COMM" && f.flags == kNoFlags && f.description.empty());
}

struct Layout {
    const char* name;
    std::string file;
    std::string kept;            // the frames the new tag carries over besides the fields, in order
    std::string order;           // the ids of the new tag's frames
    std::string audio = kAudio;  // what follows the new tag
    std::string title = "Title";  // what a read of the file finds
};

std::string v23(std::string_view frames, long delta = 0) {
    return tag(3, 0, frames, delta);
}

const std::string kTitleFrame = frame(3, "TIT2", text(1, "Title"));
const std::string kOwnOrder = "TPE1 TALB TYER COMM TCON";

std::vector<Layout> layouts() {
    const std::string moods = frame(4, "TMOO", text(3, "静か")) +
                              frame(4, "TDRL", text(3, "2010-01-02")) +
                              frame(4, "TDOR", text(0, "2001-05-12")) +
                              frame(4, "TSST", "\x05", "\0\x40"s);  // its group symbol alone
    const std::string utf8 = frame(4, "TXXX", text(3, "説明") + '\0' + "値") +
                             frame(4, "COMM",
                                   "\x03"
                                   "eng"
                                   "desc\0本文"s) +
                             frame(4, "USLT",
                                   "\x03"
                                   "jpn\0歌詞"s) +
                             frame(4, "APIC", "\x03image/png\0\x03説明\0PNG"s);
    const std::string grouped = "\x07" + text(0, "Group") + '\0' + "member";
    const std::string zipped = text(0, std::string(300, 'z'));
    const std::string secret =
        "\x80"
        "encrypted bytes";
    const std::string encr = frame(3, "ENCR", "owner\0\x80"s);
    const std::string footed =
        frame(4, "TIT2", text(3, "Title")) + frame(4, "TRCK", text(0, "7/12"));
    return {
        {"ExtendedHeaderV23",
         tag(3, 0x40,
             "\0\0\0\x06\0\0\0\0\0\0"s + kTitleFrame + kApic + kTrack + std::string(100, '\0')),
         kApic + kTrack, "TIT2 APIC TRCK " + kOwnOrder},
        {"ExtendedHeaderV23CountingItself",
         tag(3, 0x40, "\0\0\0\x0A\0\0\0\0\0\0"s + kTitleFrame + kTrack), kTrack,
         "TIT2 TRCK " + kOwnOrder},
        {"ExtendedHeaderV24",
         tag(4, 0x40,
             "\0\0\0\x06\x01\0"s + frame(4, "TIT2", text(3, "Title")) +
                 frame(4, "TRCK", text(0, "7/12"))),
         kTrack, "TIT2 TRCK " + kOwnOrder},
        {"FooterV24", tag(4, 0x10, footed) + "3DI\x04\0\x10"s + bigEndian(footed.size(), 7), kTrack,
         "TIT2 TRCK " + kOwnOrder},
        {"SizeClaims10More", v23(kTitleFrame + kTrack, 10), kTrack, "TIT2 TRCK " + kOwnOrder},
        {"SizeClaims200More", v23(kTitleFrame + kTrack + std::string(50, '\0'), 200), kTrack,
         "TIT2 TRCK " + kOwnOrder},
        {"SizeClaims3000More", v23(kTitleFrame + kTrack, 3000), kTrack, "TIT2 TRCK " + kOwnOrder},
        {"SizeClaimsMoreThanTheFile", v23(kTitleFrame + kTrack, 20000), kTrack,
         "TIT2 TRCK " + kOwnOrder},
        {"BytesOfNoFrameBeforeTheAudioThatStartsEarly",
         v23(kTitleFrame + kTrack +
                 "\x12\x34"
                 "cut frame",
             4000),
         kTrack, "TIT2 TRCK " + kOwnOrder,
         "\x12\x34"
         "cut frame" +
             kAudio},
        {"StackedTags",
         v23(kTitleFrame + frame(3, "TRCK", text(0, "1")) +
             frame(3, "TXXX", text(0, "A") + '\0' + "1")) +
             v23(frame(3, "TIT2", text(0, "Old")) + frame(3, "TRCK", text(0, "2")) + kApic +
                 frame(3, "TXXX", text(0, "A") + '\0' + "2") +
                 frame(3, "TXXX", text(0, "B") + '\0' + "3")),
         frame(3, "TRCK", text(0, "1")) + frame(3, "TXXX", text(0, "A") + '\0' + "1") + kApic +
             frame(3, "TXXX", text(0, "B") + '\0' + "3"),
         "TIT2 TRCK TXXX APIC TXXX " + kOwnOrder},
        {"GroupedFrames",
         v23(kTitleFrame + frame(3, "TXXX", grouped, "\0\x20"s)) +
             tag(4, 0, frame(4, "TXXX", "\x07" + text(0, "G4") + '\0' + "x", "\0\x40"s)),
         frame(3, "TXXX", grouped, "\0\x20"s) +
             frame(3, "TXXX", "\x07" + text(0, "G4") + '\0' + "x", "\0\x20"s),
         "TIT2 TXXX TXXX " + kOwnOrder},
        {"ZeroSizeFrameInTheMiddle", v23(kTitleFrame + frame(3, "TPE2", "") + kTrack), kTrack,
         "TIT2 TRCK " + kOwnOrder},
        {"Version24OnlyFrames", tag(4, 0, frame(4, "TIT2", text(0, "Title")) + moods),
         frame(3, "TXXX", text(1, "TMOO") + "\0\0"s + text(1, "静か").substr(1)) +
             frame(3, "TXXX", text(1, "TDRL") + "\0\0"s + text(1, "2010-01-02").substr(1)) +
             frame(3, "TORY", text(0, "2001")) +
             frame(3, "TXXX", text(0, "TDOR") + '\0' + "2001-05-12") +
             frame(3, "TSST", "\x05", "\0\x20"s),
         "TIT2 TXXX TXXX TORY TXXX TSST " + kOwnOrder},
        {"Utf8StringsBecomeUtf16", tag(4, 0, frame(4, "TIT2", text(3, "Title")) + utf8),
         frame(3, "TXXX", text(1, "説明") + "\0\0"s + text(1, "値").substr(1)) +
             frame(3, "COMM",
                   "\x01"
                   "eng" +
                       text(1, "desc").substr(1) + "\0\0"s + text(1, "本文").substr(1)) +
             frame(3, "USLT",
                   "\x01"
                   "jpn" +
                       text(1, "").substr(1) + "\0\0"s + text(1, "歌詞").substr(1)) +
             frame(3, "APIC", "\x01image/png\0\x03"s + text(1, "説明").substr(1) + "\0\0PNG"s),
         "TIT2 TXXX COMM USLT APIC " + kOwnOrder},
        {"WholeTagUnsynchronised",
         tag(3, 0x80,
             unsynchronised(kTitleFrame + frame(3, "PRIV", "owner\0\xFF\xE0\xFF\xFF\x00"s))),
         frame(3, "PRIV", "owner\0\xFF\xE0\xFF\xFF\x00"s), "TIT2 PRIV " + kOwnOrder},
        {"FrameUnsynchronisedWithDataLength",
         tag(4, 0,
             frame(4, "TIT2", text(0, "Title")) +
                 frame(4, "PRIV", bigEndian(9, 7) + unsynchronised("owner\0\xFF\xE0\x01"s),
                       "\0\x03"s)),
         frame(3, "PRIV", "owner\0\xFF\xE0\x01"s), "TIT2 PRIV " + kOwnOrder},
        {"CompressedFrames",
         v23(kTitleFrame +
             frame(3, "TXXX", bigEndian(zipped.size(), 8) + compressed(zipped), "\0\x80"s)) +
             tag(4, 0,
                 frame(4, "TPE2", bigEndian(zipped.size(), 7) + compressed(zipped), "\0\x09"s)),
         frame(3, "TXXX", bigEndian(zipped.size(), 8) + compressed(zipped), "\0\x80"s) +
             frame(3, "TPE2", bigEndian(zipped.size(), 8) + compressed(zipped), "\0\x80"s),
         "TIT2 TXXX TPE2 " + kOwnOrder},
        {"EncryptedFrame", v23(kTitleFrame + encr + frame(3, "TXXX", secret, "\0\x40"s)),
         encr + frame(3, "TXXX", secret, "\0\x40"s), "TIT2 ENCR TXXX " + kOwnOrder},
        {"PlainSizesInVersion24",
         tag(4, 0,
             frame(4, "TIT2", text(0, "Title")) +
                 frame(4, "TXXX", text(0, std::string(299, 'x')), kNoFlags, true) +
                 frame(4, "TRCK", text(0, "7/12"))),
         frame(3, "TXXX", text(0, std::string(299, 'x'))) + kTrack, "TIT2 TXXX TRCK " + kOwnOrder},
        {"Version22",
         tag(2, 0,
             frame(2, "TT2", text(0, "Title")) + frame(2, "TRK", text(0, "7/12")) +
                 frame(2, "PIC", "\0JPG\x03\0data"s)),
         kTrack + frame(3, "APIC", "\0image/jpeg\0\x03\0data"s), "TIT2 TRCK APIC " + kOwnOrder},
        // Read in the likelier byte order (an empty string tells none), and
        // carried over with the byte order marks version 2.3 requires.
        {"Utf16WithoutByteOrderMark",
         v23(frame(3, "TIT2", text(5, "桜の歌")) + frame(3, "TPE1", text(6, "Singer")) +
             frame(3, "TXXX", text(6, "") + "\0\0"s + text(6, "Tokyo 東京").substr(1))),
         frame(3, "TXXX", text(6, "") + "\0\0"s + text(1, "Tokyo 東京").substr(1)),
         "TIT2 TPE1 TXXX TALB TYER COMM TCON", kAudio, "桜の歌"},
    };
}

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.name;
}

class Layouts : public testing::TestWithParam<Layout> {};

}  // namespace

// Read as a library file, the tag gives its title; written into as a work file,
// every frame the fields do not own is carried over as its bytes were (in
// version 2.3 terms), in its place, the title arrives whole, every audio byte
// stays, and a second write of the same fields writes nothing.
TEST_P(Layouts, EveryFrameAudioByteAndCharacterSurvives) {
    vbmp3::installStringHandlers();
    const Layout& layout = GetParam();
    const std::string file = layout.file + kAudio;
    EXPECT_EQ(readTitle(file), layout.title);

    const auto planned = plan(file);
    ASSERT_TRUE(std::holds_alternative<WritePlan>(planned))
        << "refused: " << int(std::get<vbmp3::WriteFailure>(planned).check);
    const std::string written = applied(file, std::get<WritePlan>(planned));
    std::string kept, order, title;
    for (const Id3Frame& f : id3v2FramesOf(written)) {
        order += (order.empty() ? "" : " ") + f.id;
        if (!isOwned(f)) kept += frame(3, f.id, f.body, f.flags);
        if (f.id == "TIT2") title = f.text;
    }
    EXPECT_EQ(order, layout.order);
    EXPECT_TRUE(kept == layout.kept) << testing::PrintToString(kept);
    EXPECT_EQ(title, platform::toUtf8(kTitle));
    EXPECT_TRUE(audioIn(written) == layout.audio) << "the audio changed";

    const auto again = plan(written);
    ASSERT_TRUE(std::holds_alternative<WritePlan>(again));
    EXPECT_EQ(std::get<WritePlan>(again).kind, WritePlan::Kind::Unchanged);
}

INSTANTIATE_TEST_SUITE_P(Vbmp3, Layouts, testing::ValuesIn(layouts()),
                         [](const testing::TestParamInfo<Layout>& p) { return p.param.name; });

// Room is only real padding, and a file with another link is never written in
// place: a tag whose size claims more than it holds, or a linked file, is made
// anew; a tag with zero padding and nothing early takes the new one in place.
TEST(Vbmp3Layout, OnlyRealPaddingIsRoom) {
    vbmp3::installStringHandlers();
    std::string padded = v23(kTitleFrame + std::string(4000, '\0'));
    padded += kAudio;
    std::string lying = v23(kTitleFrame + std::string(400, '\0'), 3000);
    lying += kAudio;
    for (const auto& [file, links, kind] : {std::tuple{padded, 1, WritePlan::Kind::InPlace},
                                            {padded, 2, WritePlan::Kind::Rewrite},
                                            {lying, 1, WritePlan::Kind::Rewrite}}) {
        const auto planned = plan(file, static_cast<nlink_t>(links));
        ASSERT_TRUE(std::holds_alternative<WritePlan>(planned));
        EXPECT_EQ(std::get<WritePlan>(planned).kind, kind) << links << " links";
    }
}

// A tag made anew has at least 2 KiB of room and less than a block more: as
// much as keeps the audio at its offset within a block of the file system, so
// that its copy can share the old file's blocks.
TEST(Vbmp3Layout, ARewriteKeepsTheAudiosPlaceWithinABlock) {
    vbmp3::installStringHandlers();
    for (const long padding : {-1L, 0L, 700L, 2900L, 4096L, 9000L}) {  // -1: no tag
        std::string file = padding < 0 ? "" : v23(kTitleFrame + std::string(size_t(padding), 0));
        file += kAudio;
        for (const std::size_t block : {512u, 4096u, 65536u}) {
            const auto planned = plan(file, 2, block);  // a second link: always made anew
            ASSERT_TRUE(std::holds_alternative<WritePlan>(planned));
            const WritePlan& p = std::get<WritePlan>(planned);
            std::size_t room = p.head.size() - 10;
            for (const Id3Frame& f : id3v2FramesOf(p.head)) room -= 10 + f.body.size();
            EXPECT_TRUE(p.kind == WritePlan::Kind::Rewrite &&
                        p.head.size() % block == std::size_t(p.keepFrom) % block && room >= 2048 &&
                        room < 2048 + block)
                << padding << " bytes of padding, blocks of " << block << ": a tag of "
                << p.head.size() << " with " << room << " bytes of room";
            EXPECT_TRUE(audioIn(applied(file, p)) == kAudio);
        }
    }
}

// A tag that holds what cannot be carried over exactly is refused, and so is a
// file that holds no MPEG audio, whatever its name says.
TEST(Vbmp3Layout, WhatCannotBeCarriedOverIsRefused) {
    vbmp3::installStringHandlers();
    using vbmp3::WriteCheck;
    const std::string title = v23(kTitleFrame);
    const std::vector<std::pair<std::string, WriteCheck>> files = {
        {v23(kTitleFrame + "not a frame" + std::string(20, '\0')), WriteCheck::Damaged},
        {v23(kTitleFrame + frame(3, "TRCK", text(0, "7/12")).substr(0, 12)), WriteCheck::Damaged},
        {tag(2, 0, frame(2, "XYZ", "unknown kind")), WriteCheck::Damaged},
        {tag(4, 0,
             frame(4, "OWNE",
                   "\x03"
                   "bad utf-8 \xC3"s)),
         WriteCheck::Damaged},
        {title + "RIFF\x24\0\0\0WAVEfmt "s, WriteCheck::NotMpegAudio},
        {title + "\0\0\0\x20"s + "ftypM4A " + std::string(4000, 'm'), WriteCheck::NotMpegAudio},
    };
    for (const auto& [tags, check] : files) {
        const auto planned = plan(tags + kAudio);
        EXPECT_TRUE(std::holds_alternative<vbmp3::WriteFailure>(planned) &&
                    std::get<vbmp3::WriteFailure>(planned).check == check)
            << testing::PrintToString(tags.substr(0, 60));
    }
    // A frame claims the first audio frame whole, in a tag whose size claims
    // more than the file holds: refused as well.
    const auto swallowed =
        plan(v23(frame(3, "PRIV", "x" + kAudio.substr(0, 417)), 100000) + kAudio.substr(417));
    EXPECT_TRUE(std::holds_alternative<vbmp3::WriteFailure>(swallowed));
    // The picture's size and the tag's both claim the first bytes of the audio.
    const auto claimed =
        plan(v23(frame(3, "APIC", kPicture + kAudio.substr(0, 6))) + kAudio.substr(6));
    EXPECT_TRUE(std::holds_alternative<vbmp3::WriteFailure>(claimed) &&
                std::get<vbmp3::WriteFailure>(claimed).check == WriteCheck::Damaged);
    EXPECT_TRUE(std::holds_alternative<vbmp3::WriteFailure>(plan("")));
}
