// SPDX-License-Identifier: GPL-3.0-or-later
// The two entry points, through the tag block: reads of the shared fixtures,
// writes into copies of them and into small MP3 files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <map>
#include <regex>

#include "platform/Cp932.h"
#include "platform/Text.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"
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
constexpr Field kAlbum{"album", VBMP3_TEXT_C_OFFSET, VBMP3_TEXT_C_SIZE};
constexpr Field kYear{"year", VBMP3_SHORT_TEXT_OFFSET, VBMP3_SHORT_TEXT_SIZE};
constexpr Field kComment{"comment", VBMP3_TEXT_D_OFFSET, VBMP3_TEXT_D_SIZE};
constexpr Field kGenre{"genre", VBMP3_TEXT_E_OFFSET, VBMP3_TEXT_E_SIZE};
constexpr Field kTextFields[] = {kTitle, kArtist, kAlbum, kYear, kComment, kGenre};

const std::string kFixtures = KESTROM_FIXTURES_DIR "/tags/";
const std::string kKaraoke = "\x83\x4A\x83\x89\x83\x49\x83\x50";  // カラオケ

bool readTag(const std::string& path, Block& block) {
    unsigned char mpeg[VBMP3_MPEG_INFO_SIZE];  // StreamInfoTest checks it
    return vbmp3_getFileInfo(path.c_str(), block.data(), mpeg) != 0;
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

// One entry of manifest.json: a fixture and the fields a correct read finds
// (UTF-8; genre_number as decimal text), none when the read must fail.
struct Fixture {
    std::string name;
    std::map<std::string, std::string> expect;
};

// Just enough JSON for the manifest: {"file": {"expect": null | {"field": "text" | 12},
// "note": "..."}}, no escapes in the expected texts.
std::vector<Fixture> manifest() {
    const std::string json = readFile(kFixtures + "manifest.json");
    const std::regex entry(R"re("([^"]+)":\s*\{[^{}]*"expect":\s*(null|\{[^}]*\}))re");
    const std::regex field(R"re("(\w+)":\s*(?:"([^"]*)"|(\d+)))re");
    std::vector<Fixture> fixtures;
    for (std::sregex_iterator e(json.begin(), json.end(), entry), end; e != end; ++e) {
        Fixture& f = fixtures.emplace_back(Fixture{(*e)[1], {}});
        const std::string body = (*e)[2];
        for (std::sregex_iterator m(body.begin(), body.end(), field); m != end; ++m)
            f.expect[(*m)[1]] = (*m)[2].matched ? (*m)[2] : (*m)[3];
    }
    return fixtures;
}

}  // namespace

// Every fixture reads as the manifest says. A read fills every field, NUL bytes
// after its text, and leaves the gap before the genre number alone; a failed
// one leaves the whole block alone. A tag without any field counts as none.
TEST(Vbmp3Read, EveryFixtureReadsAsTheManifestSays) {
    std::string named, found;
    for (const std::string& name : treeOf(kFixtures))
        if (name.ends_with(".mp3")) found += name + " ";
    for (const Fixture& f : manifest()) {
        SCOPED_TRACE(f.name);
        named += f.name + " ";
        Block block;
        block.fill('Z');  // as the previous file of a run leaves it
        if (!readTag(kFixtures + f.name, block)) {
            EXPECT_TRUE(f.expect.empty()) << "the read failed";
            EXPECT_EQ(std::count(block.begin(), block.end(), 'Z'), VBMP3_TAG_INFO_SIZE)
                << "a failed read leaves it alone";
            continue;
        }
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
        EXPECT_EQ(read, f.expect);
        const auto gap = block.begin() + kComment.offset + kComment.size;
        EXPECT_EQ(std::count(gap, block.begin() + VBMP3_NUMBER_OFFSET, 'Z'), 3)
            << "the gap is no field";
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

// The program keeps the block in UTF-16 between the calls, decoded from code
// page 932 and encoded again: what code page 932 cannot hold travels escaped.
// Every field is written UTF-16 with a byte order mark, also where ISO-8859-1
// could hold the text: readers of Japanese tags take ISO-8859-1 frames for
// Shift-JIS when the bytes allow it. The genre too, which TagLib builds anew in
// ISO-8859-1 when it writes ID3v2.3.
TEST(Vbmp3Write, FramesAreUtf16AndKeepCharactersOutsideCodePage932) {
    TempDir dir;
    Block block{};
    ASSERT_TRUE(readTag(kFixtures + "v23_outside_cp932.mp3", block));
    for (const Field& field : kTextFields) {
        const std::u16string record = kestrom::platform::cp932::decode(bytes(block, field));
        setText(block, field, kestrom::platform::cp932::encode(record));
    }
    setText(block, kGenre, std::string("Caf\x7F") + "00E9");  // "Café", é escaped as in the block
    block[VBMP3_NUMBER_OFFSET] = 255;                         // no ID3v1 genre
    writeFile(dir / "Work.mp3", silentAudio(4));
    ASSERT_TRUE(writeTag(dir / "Work.mp3", block));
    std::string frames;
    for (const Id3Frame& f : readId3v2Frames(dir / "Work.mp3"))
        frames += f.id + (f.encoding == 1 && f.bom ? " UTF-16 " : " other ") + f.text + "\n";
    EXPECT_EQ(frames,
              "TIT2 UTF-16 恋♥サーキュレーション\nTPE1 UTF-16 한국 가수\nTALB UTF-16 Pokémon 〜 "
              "Best\nTYER UTF-16 2008\nCOMM UTF-16 🎵 music\nTCON UTF-16 Café\n");
    Block again{};
    ASSERT_TRUE(readTag(dir / "Work.mp3", again));
    EXPECT_TRUE(again == block) << "reading what was written gives another block";
}

TEST(Vbmp3Write, KeepsOtherFramesLeavesOneId3v23TagAndId3v1InCodePage932) {
    TempDir dir;
    const std::string path = dir / "Song.mp3";  // a link to the file, which is replaced
    writeFile(dir / "lib/Song.mp3", readFile(kFixtures + "v23_with_other_frames.mp3"));
    ASSERT_EQ(::symlink("lib/Song.mp3", path.c_str()), 0);
    {  // as a v2.4 tag with a full date
        TagLib::MPEG::File file(path.c_str());
        file.ID3v2Tag()->frameList("TDRC").front()->setText("2020-05-03");
        file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4);
    }
    const std::string audio = audioOf(path);
    std::string content = readFile(path);
    const std::size_t tagEnd = content.size() - audio.size();
    writeFile(path, content.insert(tagEnd, content.substr(0, tagEnd)));  // as some taggers leave it
    Block block{};
    setText(block, kTitle, std::string(29, 'a') + "\x82\xA0");  // あ ends past 30 bytes
    setText(block, kArtist, kKaraoke + std::string(120, ' '));  // as the program marks it
    setText(block, kYear, "2020");
    setText(block, kComment, std::string(27, 'c') + "\x82\xA0");  // the comment holds 28
    block[VBMP3_NUMBER_OFFSET] = 13;
    ASSERT_TRUE(writeTag(path, block));
    content = readFile(path);
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(content.find("ID3", 1), std::string::npos) << "one ID3v2 tag";
    EXPECT_TRUE(audioOf(path) == audio) << "the audio changed";
    EXPECT_EQ(content.substr(content.size() - 128),  // no album; no track, genre 13
              "TAG" + std::string(29, 'a') + '\0' + kKaraoke + std::string(52, '\0') + "2020" +
                  std::string(27, 'c') + std::string(3, '\0') + "\x0D");
    TagLib::MPEG::File file(path.c_str());
    const TagLib::ID3v2::Tag& tag = *file.ID3v2Tag();
    EXPECT_EQ(tag.header()->majorVersion(), 3u);
    EXPECT_EQ(readMp3Tag(path).artist, "カラオケ") << "trailing blanks are not stored";
    for (const char* id : {"TRCK", "TDRC", "USLT", "APIC"})
        ASSERT_EQ(tag.frameList(id).size(), 1u) << id;
    // The same year keeps its day (TagLib reads TYER and TDAT as TDRC).
    EXPECT_EQ(tag.frameList("TDRC").front()->toString(), "2020-05-03");
}

// A failed write tells why in errno, also where no system call failed (as for
// each refusal of the writer), and leaves the file as it was, with nothing
// beside it. TagLib 1.13 reports success
// for a save whose writes failed; a file size limit (which binds root as well)
// makes the save fail half-way.
TEST(Vbmp3Write, AFailedWriteTellsWhyAndLeavesTheFileAsItWas) {
    for (const auto& [content, error] :
         {std::pair{silentAudio(40), EFBIG},
          {readFile(kFixtures + "not_mpeg_with_tag.mp3"), ENOEXEC}}) {
        TempDir dir;
        writeFile(dir / "Song.mp3", content);
        if (::fork() == 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{content.size() + 64, content.size() + 64};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::_exit(writeTag(dir / "Song.mp3", Block{'N', 'e', 'w'}) ? 255 : errno);
        }
        int status = -1;
        ::wait(&status);
        EXPECT_EQ(WEXITSTATUS(status), error) << "the write must fail";
        EXPECT_TRUE(readFile(dir / "Song.mp3") == content);
        EXPECT_EQ(treeOf(dir.path()), std::vector<std::string>{"Song.mp3"});
    }
}
