// SPDX-License-Identifier: GPL-3.0-or-later
// The entry points, through the tag block and the text record: reads of the
// shared fixtures and of generated MPEG streams, writes into copies of them and
// into small MP3 files.
#include <gtest/gtest.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <regex>

#include "platform/Cp932.h"
#include "platform/FileChange.h"
#include "platform/Text.h"
#ifndef _WIN32
#include "support/Fork.h"
#endif
#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "support/Wine.h"
#include "vbmp3/BlockText.h"
#include "vbmp3/TagText.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::test;

namespace {

using Block = std::array<unsigned char, VBMP3_TAG_INFO_SIZE>;

// A text field of the block, named as manifest.json names it.
struct Field {
    const char* name;
    std::size_t offset, size;
};
constexpr Field kTitle{"title", VBMP3_TEXT_A_OFFSET, VBMP3_TEXT_A_SIZE};
constexpr Field kArtist{"artist", VBMP3_TEXT_B_OFFSET, VBMP3_TEXT_B_SIZE};
constexpr Field kYear{"year", VBMP3_SHORT_TEXT_OFFSET, VBMP3_SHORT_TEXT_SIZE};
constexpr Field kComment{"comment", VBMP3_TEXT_D_OFFSET, VBMP3_TEXT_D_SIZE};
constexpr Field kGenre{"genre", VBMP3_TEXT_E_OFFSET, VBMP3_TEXT_E_SIZE};
constexpr Field kTextFields[] = {
    kTitle, kArtist, {"album", VBMP3_TEXT_C_OFFSET, VBMP3_TEXT_C_SIZE}, kYear, kComment, kGenre};

// The sizes of the stream information's fields, one after the other as vbmp3.h
// lays them out.
constexpr std::size_t kInfoSizes[] = {1, 1, 1, 1, 1, 1, 2, 4, 4, 4, 4, 8, 8, 8, 4, 4};

const std::string kFixtures = KESTROM_FIXTURES_DIR "/tags/";
const std::string kKaraoke = "\x83\x4A\x83\x89\x83\x49\x83\x50";  // カラオケ

// Reads the tag into block and, when asked, the numbers of the stream
// information (little-endian) into info.
bool readTag(const std::string& path, Block& block, std::vector<std::uint64_t>* info = nullptr) {
    unsigned char mpeg[VBMP3_MPEG_INFO_SIZE];
    if (vbmp3_getFileInfo(path.c_str(), block.data(), mpeg) == 0) return false;
    for (std::size_t at = 0; const std::size_t size : kInfoSizes) {
        std::uint64_t value = 0;
        for (std::size_t b = size; b-- > 0;) value = value << 8 | mpeg[at + b];
        if (info != nullptr) info->push_back(value);
        at += size;
    }
    return true;
}

bool writeTag(const std::string& path, Block block) {
    return vbmp3_setTagInfo(path.c_str(), block.data(), 1, 1) != 0;
}

std::string bytes(const Block& block, const Field& field) {
    return std::string(reinterpret_cast<const char*>(block.data() + field.offset), field.size);
}

// Puts text into a field, cut to its size and padded with NUL bytes.
void setText(Block& block, const Field& field, const std::string& text) {
    std::memset(block.data() + field.offset, 0, field.size);
    std::memcpy(block.data() + field.offset, text.data(), std::min(field.size, text.size()));
}

// manifest.json: for each fixture, the fields a correct read finds (UTF-8;
// genre_number as decimal text), none when the read must fail. Just enough
// JSON for it: {"file": {"expect": null | {"field": "text" | 12}, "note": "..."}},
// no escapes in the expected texts.
std::map<std::string, std::map<std::string, std::string>> manifest() {
    const std::string json = readFile(kFixtures + "manifest.json");
    const std::regex entry(R"re("([^"]+)":\s*\{[^{}]*"expect":\s*(null|\{[^}]*\}))re");
    const std::regex field(R"re("(\w+)":\s*(?:"([^"]*)"|(\d+)))re");
    std::map<std::string, std::map<std::string, std::string>> fixtures;
    for (std::sregex_iterator e(json.begin(), json.end(), entry), end; e != end; ++e) {
        auto& expect = fixtures[(*e)[1]];
        const std::string body = (*e)[2];
        for (std::sregex_iterator m(body.begin(), body.end(), field); m != end; ++m)
            expect[(*m)[1]] = (*m)[2].matched ? (*m)[2] : (*m)[3];
    }
    return fixtures;
}

constexpr unsigned kApe = 1, kId3v1 = 2;  // tags behind the audio
constexpr int kXing = 1, kVbri = 2;       // VBR headers, as the block codes them

// A generated stream. version: 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5. kbps: of every
// frame; a VBR stream's frames alternate it with twice as much. mode: 0 stereo,
// 1 joint stereo, 2 dual channel, 3 mono. flags: header bits 0x01 CRC, 0x02
// copyrighted, 0x04 original. vbrHeader: in a frame of its own before the audio
// frames. tail: an APE and/or an ID3v1 tag behind the audio, holding the title
// "Tail" and "Last".
struct Stream {
    const char* name;
    int version, layer, kbps, sampleRate, mode;
    unsigned flags;
    int frames, vbrHeader;
    unsigned tail;
};

// The header's bit rate index of each rate used here, by "MPEG-1 or not, layer,
// kbit/s" (MPEG-2.5 shares MPEG-2's table).
const std::map<std::string, unsigned> kBitRateIndex = {
    {"1 3 64", 5},  {"1 3 128", 9}, {"1 3 256", 12}, {"1 2 192", 10},
    {"1 1 128", 4}, {"2 3 8", 1},   {"2 3 64", 8},   {"2 2 32", 4}};

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
    const std::string rate = std::to_string(std::min(s.version, 2)) + " " +
                             std::to_string(s.layer) + " " + std::to_string(kbps);
    // Index 0-2: 44100, 48000, 32000 Hz in MPEG-1, half that in MPEG-2, a quarter in MPEG-2.5.
    const int mpeg1Rate = s.sampleRate << (s.version - 1);
    const unsigned sampleRate = mpeg1Rate == 44100 ? 0 : mpeg1Rate == 48000 ? 1 : 2;
    const unsigned versionBits[] = {0, 3, 2, 0};  // by version
    const std::uint32_t header = 0xFFE00000 | versionBits[s.version] << 19 |
                                 unsigned(4 - s.layer) << 17 | (s.flags & 1 ? 0u : 1u) << 16 |
                                 kBitRateIndex.at(rate) << 12 | sampleRate << 10 |
                                 unsigned(s.mode) << 6 | (s.flags & 2) << 2 | (s.flags & 4);
    return bytesOf(header, 4) + std::string(std::size_t(frameLength(s, kbps)) - 4, '\0');
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
    return (tags & kApe ? ape : "") +
           (tags & kId3v1 ? "TAGLast" + std::string(120, '\0') + '\xFF' : "");
}

// The text record of number and the six texts (UTF-8), as vbmp3.h lays it out.
std::string textRecord(std::uint32_t number, const std::array<std::string, 6>& texts) {
    std::string record = bytesOf(number, 4, true);
    for (const std::string& text : texts) record += text + '\0';
    return record;
}

// Reads the tag into record, a buffer of size bytes that starts out all "Z";
// on success the record alone is left in it.
bool readRecord(const std::string& path, std::string& record,
                std::uint32_t size = VBMP3_TEXT_RECORD_MAX) {
    record.assign(size, 'Z');
    unsigned char mpeg[VBMP3_MPEG_INFO_SIZE];
    if (vbmp3_getFileInfoUtf8(path.c_str(), record.data(), size, mpeg) == 0) return false;
    std::size_t end = 4;
    for (int i = 0; i < VBMP3_TEXT_COUNT; ++i) end = record.find('\0', end) + 1;
    EXPECT_EQ(record.find_first_not_of('Z', end), std::string::npos) << "written past the record";
    record.resize(end);
    return true;
}

int writeRecord(const std::string& path, const std::string& record, std::int32_t checkOnly = 0) {
    errno = 0;
    const std::int16_t result = vbmp3_setTagInfoUtf8(
        path.c_str(), record.data(), static_cast<std::uint32_t>(record.size()), 1, 1, checkOnly);
    return result == 1 ? 0 : errno;
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += text;
    return out;
}

}  // namespace

// Every fixture reads as the manifest says. A read fills every field, NUL bytes
// after its text, and leaves the gap before the genre number alone; a failed
// one leaves the whole block alone. A tag without any field counts as none.
// The text record reads the same fields, whole where the block cut them.
TEST(Vbmp3Read, EveryFixtureReadsAsTheManifestSays) {
    std::vector<std::string> named, found;
    for (const std::string& name : treeOf(kFixtures))
        if (name.ends_with(".mp3")) found.push_back(name);
    for (const auto& [name, expect] : manifest()) {
        SCOPED_TRACE(name);
        named.push_back(name);
        Block block;
        block.fill('Z');  // as the previous file of a run leaves it
        std::string record;
        const bool recordRead = readRecord(kFixtures + name, record);
        if (!readTag(kFixtures + name, block)) {
            EXPECT_TRUE(expect.empty()) << "the read failed";
            EXPECT_EQ(std::count(block.begin(), block.end(), 'Z'), VBMP3_TAG_INFO_SIZE)
                << "a failed read leaves it alone";
            EXPECT_TRUE(!recordRead && record == std::string(VBMP3_TEXT_RECORD_MAX, 'Z'));
            continue;
        }
        auto whole = expect;
        if (name == "v23_long_title.mp3") whole["title"] = repeated("長い題名", 50);
        EXPECT_TRUE(recordRead);
        EXPECT_EQ(record, textRecord(static_cast<std::uint32_t>(std::stoul(whole["genre_number"])),
                                     {whole["title"], whole["artist"], whole["album"],
                                      whole["year"], whole["comment"], whole["genre"]}));
        std::map<std::string, std::string> read;
        unsigned number = 0;
        for (std::size_t i = VBMP3_NUMBER_SIZE; i-- > 0;)
            number = number << 8 | block[VBMP3_NUMBER_OFFSET + i];
        read["genre_number"] = std::to_string(number);
        for (const Field& field : kTextFields) {
            const std::string text = bytes(block, field);
            read[field.name] = kestrom::platform::toUtf8(kestrom::vbmp3::fromBlockText(text));
            EXPECT_EQ(text.find_first_not_of('\0', text.find('\0')), std::string::npos)
                << field.name;
        }
        EXPECT_EQ(read, expect);
        EXPECT_EQ(bytes(block, {"gap", kComment.offset + kComment.size, 3}), "ZZZ");
    }
    EXPECT_EQ(named, found) << "every fixture, and only those, in manifest.json";
    TempDir dir;  // an ID3v2.3 tag holding only a track number
    writeFile(dir / "Track.mp3",
              std::string("ID3\x03\0\0\0\0\0\x0CTRCK\0\0\0\x02\0\0\0\x33", 22) + silentAudio(4));
    Block block{};
    EXPECT_FALSE(readTag(dir / "Track.mp3", block));
}

// Tags without a declared encoding: the fixtures hold kana, kanji and accents.
TEST(Vbmp3Read, LegacyBytesAreShiftJisOnlyWhereTheyFormJapaneseText) {
    for (const auto& [raw, text] :
         {std::pair<std::string, std::u16string>{"\xB6\xD7\xB5\xB9", u"ｶﾗｵｹ"},
          {"Can\347\365es", u"Canções"}})  // a rare kanji's bytes
        EXPECT_EQ(kestrom::vbmp3::toUtf16(kestrom::vbmp3::decodeLegacy(raw)), text);
}

// A write through a link to a file whose v2.4 tag (with a full date) some
// tagger put twice. The program keeps the block in UTF-16 between the calls,
// decoded from code page 932 and encoded again, so what code page 932 cannot
// hold travels escaped. Every field is written UTF-16 with a byte order mark,
// also where ISO-8859-1 could hold the text: readers of Japanese tags take
// ISO-8859-1 frames for Shift-JIS when the bytes allow it. The other frames stay,
// in their order, the day of the date too while the year stays; ID3v1 is code
// page 932, each text cut on a character boundary, the comment to 28 bytes.
TEST(Vbmp3Write, Utf16FramesOneId3v23TagOtherFramesKeptAndId3v1InCodePage932) {
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    writeFile(dir / "lib/Song.mp3", readFile(kFixtures + "v23_with_other_frames.mp3"));
#ifdef _WIN32
    writeFile(path, readFile(dir / "lib/Song.mp3"));  // links need a privilege on Windows
#else
    ASSERT_EQ(::symlink("lib/Song.mp3", path.c_str()), 0);
#endif
    {
        TagLib::MPEG::File file(path.c_str());
        file.ID3v2Tag()->frameList("TDRC").front()->setText("2020-05-03");
        file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4);
    }
    const std::string audio = audioOf(path);
    std::string content = readFile(path);
    const std::size_t tagEnd = content.size() - audio.size();
    writeFile(path, content.insert(tagEnd, content.substr(0, tagEnd)));
    // é, WAVE DASH, an emoji (a surrogate pair) and DEL escaped: \177 is 0x7F.
    Block block{};
    setText(block, kTitle, "Pok\17700E9mon \177301C" + std::string(19, 'a') + "\x82\xA0");
    setText(block, kArtist, kKaraoke + std::string(120, ' '));  // as the program marks it
    setText(block, kYear, "2020");
    setText(block, kComment, "\177D83C\177DFB5" + std::string(26, 'c') + "\x82\xA0");
    setText(block, kGenre, "Caf\17700E9 \177007F0041");
    block[VBMP3_NUMBER_OFFSET] = 13;
    for (const Field& field : kTextFields)  // as the program hands it back
        setText(block, field,
                kestrom::platform::cp932::encode(
                    kestrom::platform::cp932::decode(bytes(block, field))));
    ASSERT_TRUE(writeTag(path, block));
    content = readFile(path);
#ifndef _WIN32
    EXPECT_TRUE(readFile(dir / "lib/Song.mp3") == content) << "the link was replaced";
#endif
    EXPECT_EQ(content.find("ID3", 1), std::string::npos) << "one ID3v2 tag";
    EXPECT_TRUE(audioOf(path) == audio) << "the audio changed";
    std::string frames;
    for (const Id3Frame& f : readId3v2Frames(path))
        frames += f.id + (f.encoding == 1 ? " UTF-16 " : " ") + f.text + "\n";
    EXPECT_EQ(frames,
              "TIT2 UTF-16 Pokémon 〜aaaaaaaaaaaaaaaaaaaあ\nTPE1 UTF-16 カラオケ\nTRCK 7/12\n"
              "TYER UTF-16 2020\nTDAT UTF-16 0305\nUSLT \nAPIC \nCOMM UTF-16 "
              "🎵ccccccccccccccccccccccccccあ\nTCON UTF-16 Café \1770041\n");
    EXPECT_EQ(content.substr(content.size() - 128),  // no album; no track, genre 13
              "TAGPok?mon \x81\x60" + std::string(19, 'a') + '\0' + kKaraoke +
                  std::string(52, '\0') + "2020?" + std::string(26, 'c') + std::string(3, '\0') +
                  "\x0D");
    Block again{};
    ASSERT_TRUE(readTag(path, again));
    setText(block, kArtist, kKaraoke);  // trailing blanks are not stored
    block[VBMP3_NUMBER_OFFSET] = 255;   // the genre's name is no ID3v1 genre
    EXPECT_TRUE(again == block) << "reading what was written gives another block";
}

// Through the text record the texts travel whole: a title of 70 characters,
// characters that code page 932 lacks, a comment of several kilobytes and one
// of VBMP3_TEXT_MAX bytes. Only the ID3v1 tag cuts, on a character boundary. A
// tag with a longer text is not read (EOVERFLOW), nor one whose record is
// longer than the room for it (ERANGE): either leaves the buffer alone.
TEST(Vbmp3TextRecord, WholeTextsGoInAndComeBackAndOnlyId3v1CutsThem) {
    if (underWine()) GTEST_SKIP() << kWineKeepsOpenFiles;
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    writeMp3(path, silentAudio(4), nullptr);
    const std::string title = "a" + repeated("桜の歌", 23);  // 'a' and 14 of them fill 29 bytes
    const std::array<std::string, 6> texts{
        title, "Beyoncé 한국 🎵", "アルバム", "2024", repeated("♥ コメント 한é🎵 ", 300) + "end",
        "Pop"};
    const std::string record = textRecord(13, texts);
    ASSERT_EQ(writeRecord(path, record), 0);
    std::string back;
    ASSERT_TRUE(readRecord(path, back));
    EXPECT_EQ(back, record);
    EXPECT_TRUE(readMp3Tag(path) ==
                (Mp3Tag{texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]}));
    const std::string content = readFile(path);
    EXPECT_EQ(content.substr(content.size() - 128, 33),  // "TAG", the title's 30 bytes
              "TAGa" + repeated("\x8D\xF7\x82\xCC\x89\xCC", 4) + "\x8D\xF7\x82\xCC" + '\0');
    EXPECT_FALSE(readRecord(path, back, static_cast<std::uint32_t>(record.size() - 1)));
    EXPECT_TRUE(errno == ERANGE && back == std::string(record.size() - 1, 'Z')) << errno;

    const std::string longest(VBMP3_TEXT_MAX, 'c');
    ASSERT_EQ(writeRecord(path, textRecord(255, {"", "", "", "", longest, ""})), 0);
    ASSERT_TRUE(readRecord(path, back));
    EXPECT_EQ(back, textRecord(255, {"", "", "", "", longest, ""}));
    const Mp3Tag tooLong{"Title", "", "", "", longest + "c", ""};
    writeMp3(path, silentAudio(4), &tooLong);
    EXPECT_FALSE(readRecord(path, back));
    EXPECT_TRUE(errno == EOVERFLOW && back == std::string(VBMP3_TEXT_RECORD_MAX, 'Z')) << errno;
}

// A malformed record, or an argument out of range, is refused before the file
// is opened, and the file stays as it was.
TEST(Vbmp3TextRecord, AMalformedRecordIsRefused) {
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    writeMp3(path, silentAudio(4), nullptr);
    const std::string good = textRecord(13, {"Title", "", "", "", "", ""});
    const auto withTitle = [](const std::string& title) {
        return textRecord(13, {title, "", "", "", "", ""});
    };
    for (const auto& [why, record] :
         {std::pair<const char*, std::string>{"a NUL missing", good.substr(0, good.size() - 1)},
          {"bytes after the last NUL", good + "x"},
          {"no Number", std::string(3, '\0')},
          {"an overlong form", withTitle("\xC0\xAF")},
          {"a surrogate", withTitle("\xED\xA0\x80")},
          {"a code beyond U+10FFFF", withTitle("\xF4\x90\x80\x80")},
          {"a character cut short", withTitle("\xE6\xAD")},
          {"a lone continuation byte", withTitle("\x80")},
          {"a text too long", withTitle(std::string(VBMP3_TEXT_MAX + 1, 'x'))}})
        EXPECT_EQ(writeRecord(path, record), EINVAL) << why;
    EXPECT_EQ(writeRecord(path, good, 2), EINVAL) << "checkOnly";
    EXPECT_EQ(vbmp3_setTagInfoUtf8(path.c_str(), good.data(), 10, 2, 1, 0), 0) << "id3v2";
    EXPECT_EQ(vbmp3_setTagInfoUtf8(path.c_str(), nullptr, 0, 1, 1, 0), 0);
    EXPECT_TRUE(readFile(path) == silentAudio(4));
    EXPECT_EQ(hiddenFiles(dir.path()), "");
}

// A check refuses what the write refuses, with the same errno, and changes
// nothing: not the file, nor a journal that a crash left beside it, which the
// write then settles.
TEST(Vbmp3TextRecord, ACheckRefusesWhatTheWriteRefusesAndChangesNothing) {
    if (underWine()) GTEST_SKIP() << kWineKeepsOpenFiles;
    TempDir dir;
    writeTree(dir.path(), "!ReadOnly.mp3:" + silentAudio(4) + " Song.mp3:" + silentAudio(4) +
                              " Locked.mp3:" + silentAudio(4) + " Folder.mp3/x:");
    writeFile(dir / "Empty.mp3", "");
    writeFile(dir / "Movie.mp3", std::string("\0\0\0\x18"
                                             "ftypM4A \0\0\0\0M4A mp42",
                                             24));
    writeFile(dir / "Wave.mp3", "RIFF" + bytesOf(1036, 4, true) + "WAVEfmt " +
                                    bytesOf(16, 4, true) + std::string(16, '\x01') + "data" +
                                    bytesOf(1000, 4, true) + std::string(1000, '\0'));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "Pipe.mp3").c_str(), 0644),
              0);  // Windows has no named pipe in a folder
#endif
    const std::string leftover = dir / std::string(kestrom::platform::kJournalName);
    writeFile(leftover, "KSTRJRNL cut short by a crash");
    kestrom::platform::Posix& system = kestrom::platform::systemPosix();
    const kestrom::platform::Fd holder(system,
                                       system.open((dir / "Locked.mp3").c_str(), O_RDONLY, 0));
    ASSERT_EQ(system.flock(holder.get(), LOCK_EX), 0);  // another run is writing it
    const std::string before = treeText(dir.path());
    const std::string record = textRecord(13, {"新しい題名", "", "", "", "", ""});
    const std::pair<const char*, int> cases[] = {
        {"Song.mp3", 0},          {"Missing.mp3", ENOENT}, {"Folder.mp3", EINVAL},
#ifndef _WIN32
        {"Pipe.mp3", EINVAL},
#endif
        {"ReadOnly.mp3", EACCES}, {"Empty.mp3", ENOEXEC},  {"Movie.mp3", ENOEXEC},
        {"Wave.mp3", ENOEXEC},    {"Locked.mp3", EBUSY}};
    for (const auto& [name, error] : cases)
        EXPECT_EQ(writeRecord(dir / name, record, 1), error) << name;
    EXPECT_TRUE(treeText(dir.path()) == before) << "a check changed a file";
    for (const auto& [name, error] : cases)
        EXPECT_EQ(writeRecord(dir / name, record), error) << name;
    EXPECT_EQ(readMp3Tag(dir / "Song.mp3").title, "新しい題名");
    EXPECT_FALSE(exists(leftover));
}

// A failed write tells why in errno and leaves the file as it was, with nothing
// beside it. A file size limit (which binds root as well) makes the write fail
// half-way, after a short write: TagLib 1.13 reports success for such a save.
TEST(Vbmp3Write, AFailedWriteTellsWhyAndLeavesTheFileAsItWas) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a child process with a file size limit (fork, setrlimit)";
#else
    TempDir dir;
    const std::string content = silentAudio(40);
    writeFile(dir / "Song.mp3", content);
    const pid_t child = forkChild();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{content.size() + 64, content.size() + 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(writeTag(dir / "Song.mp3", Block{'N', 'e', 'w'}) ? 255 : errno);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), EFBIG) << "the write must fail";
    EXPECT_TRUE(readFile(dir / "Song.mp3") == content);
    EXPECT_EQ(treeOf(dir.path()), std::vector<std::string>{"Song.mp3"});
#endif
}

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

// The stream information of a read, over generated streams: every expected value
// is worked out here from the header fields the stream was made of. The fields
// come from the ID3v2 tag, else the ID3v1 tag, else the APE tag.
TEST(StreamInfo, DescribesTheStream) {
    TempDir dir;
    const std::string path = dir / "Stream.mp3";
    for (const Stream& s : kStreams) {
        SCOPED_TRACE(s.name);
        const bool vbr = s.vbrHeader != 0;
        std::string audio;
        for (int i = 0; i < s.frames; ++i) audio += frame(s, vbr && i % 2 ? 2 * s.kbps : s.kbps);
        const auto audioBytes = audio.size() + (vbr ? std::size_t(frameLength(s, s.kbps)) : 0);
        if (vbr) audio.insert(0, vbrHeaderFrame(s, unsigned(s.frames), unsigned(audioBytes)));
        const Mp3Tag tag{"Stream", "", "", "", "", ""};
        writeMp3(path, audio, s.tail != 0 ? nullptr : &tag);
        writeFile(path, readFile(path) + tail(s.tail));
        const std::uint64_t fileSize = readFile(path).size();
        const double exactMs = 1000.0 * s.frames * samplesPerFrame(s) / s.sampleRate;
        const auto meanKbps = vbr ? std::llround(double(audioBytes) * 8 / exactMs) : s.kbps;
        Block block{};
        std::vector<std::uint64_t> info;
        ASSERT_TRUE(readTag(path, block, &info));
        EXPECT_STREQ(bytes(block, kTitle).c_str(), s.tail & kId3v1 ? "Last"
                                                   : s.tail & kApe ? "Tail"
                                                                   : "Stream");
        EXPECT_EQ(info,
                  (std::vector<std::uint64_t>{
                      unsigned(s.version), unsigned(s.layer), unsigned(s.mode),
                      s.mode == 3 ? 1u : 2u, s.flags | (vbr ? 0x08u : 0u), unsigned(s.vbrHeader),
                      unsigned(samplesPerFrame(s)), unsigned(s.sampleRate), std::uint64_t(meanKbps),
                      std::uint64_t(std::llround(exactMs)), unsigned(s.frames),
                      fileSize - audio.size() - tail(s.tail).size(), audio.size(), fileSize,
                      unsigned(s.kbps), unsigned(frameLength(s, s.kbps))}));
    }
}

// A batch: the adds check and stage, a refused one returns 0 with its errno and
// gets no entry in the commit's results; the commit writes the others, each
// with its result. A file added twice under two names (a hard link) is written
// twice, as two writes one after the other would: the first is committed
// before the second can lock the file. A commit whose count does not match the
// staged adds writes nothing.
TEST(Vbmp3Batch, StagesChecksAndCommitsEachFileWithItsResult) {
    if (underWine()) GTEST_SKIP() << kWineKeepsOpenFiles;
    kestrom::vbmp3::installStringHandlers();
    TempDir dir;
    const Mp3Tag old{"Old", "", "", "", "", ""};
    for (const char* name : {"A.mp3", "B.mp3"}) writeMp3(dir / name, silentAudio(4), &old);
    writeFile(dir / "Empty.mp3", "");
    ASSERT_EQ(
        kestrom::platform::systemPosix().link((dir / "B.mp3").c_str(), (dir / "Link.mp3").c_str()),
        0);
    const std::string a = textRecord(13, {"題名A", "", "", "", "", ""});
    const std::string b = textRecord(13, {"題名B", "", "", "", "", ""});
    const auto add = [&](vbmp3_batch* batch, const char* name, const std::string& record) {
        errno = 0;
        const int staged = vbmp3_addTagInfoUtf8(batch, (dir / name).c_str(), record.data(),
                                                static_cast<std::uint32_t>(record.size()), 1, 1);
        return staged == 1 ? 0 : errno;
    };
    vbmp3_batch* batch = vbmp3_beginBatch();
    ASSERT_NE(batch, nullptr);
    EXPECT_EQ(add(batch, "A.mp3", a), 0);
    EXPECT_EQ(add(batch, "Empty.mp3", a), ENOEXEC);
    EXPECT_EQ(add(batch, "B.mp3", a), 0);
    EXPECT_EQ(readMp3Tag(dir / "A.mp3").title, "Old") << "written before the commit";
    std::int32_t errors[3] = {-1, -1, -1};
    EXPECT_EQ(vbmp3_commitBatch(batch, errors, 1), 0);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(readMp3Tag(dir / "A.mp3").title, "Old");
    EXPECT_EQ(add(batch, "Link.mp3", b), 0);
    EXPECT_EQ(vbmp3_commitBatch(batch, errors, 3), 1);
    EXPECT_EQ(errors[0] + errors[1] + errors[2], 0);
    vbmp3_endBatch(batch);
    EXPECT_EQ(readMp3Tag(dir / "A.mp3").title, "題名A");
    // B.mp3 was made anew for its first write; Link.mp3 keeps the old file and
    // was made anew again for its own.
    EXPECT_EQ(readMp3Tag(dir / "B.mp3").title, "題名A");
    EXPECT_EQ(readMp3Tag(dir / "Link.mp3").title, "題名B");
    EXPECT_EQ(hiddenFiles(dir.path()), "");
}
