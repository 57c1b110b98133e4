// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <taglib/id3v2tag.h>

#include <fstream>
#include <map>

#include "Mp3Files.h"
#include "platform/Text.h"
#include "support/TempDir.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::test;

namespace {

// One entry of manifest.json: a fixture and, unless its read must fail, the
// fields a correct read finds (UTF-8; genre_number as decimal text).
struct Fixture {
    std::string name;
    std::optional<std::map<std::string, std::string>> expect;
};

void PrintTo(const Fixture& f, std::ostream* os) {
    *os << f.name;
}

// Just enough JSON for the manifest: {"file": {"expect": null | {"field": "text" | 12}, "note":
// "..."}}.
std::vector<Fixture> manifest() {
    std::ifstream in(fixture("manifest.json"), std::ios::binary);
    const std::string json{std::istreambuf_iterator<char>(in), {}};
    std::vector<Fixture> fixtures;
    std::string key;
    int depth = 0;
    for (std::size_t i = 0; i < json.size(); ++i) {
        if (json[i] == '{') {
            if (depth == 1) fixtures.push_back({key, std::nullopt});
            if (depth++ == 2 && key == "expect") fixtures.back().expect.emplace();
        } else if (json[i] == '}') {
            --depth;
        } else if (json[i] == '"' || std::isdigit(static_cast<unsigned char>(json[i]))) {
            std::string token;
            if (json[i] != '"') {
                for (; std::isdigit(static_cast<unsigned char>(json[i])); ++i) token += json[i];
            } else {
                while (json[++i] != '"') token += json[i] == '\\' ? json[++i] : json[i];
                ++i;
            }
            if (json[json.find_first_not_of(" \n", i)] == ':')
                key = token;
            else if (depth == 3)
                (*fixtures.back().expect)[key] = token;
            --i;
        }
    }
    if (fixtures.empty()) fixtures.push_back({"manifest.json is missing", std::nullopt});
    return fixtures;
}

// A block as the previous file of a run leaves it: every field filled.
Block previousFile() {
    Block block;
    block.fill('Z');
    return block;
}

std::string utf8(const Block& block, std::size_t offset, std::size_t size) {
    return kestrom::platform::toUtf8(text(block, offset, size));
}

class FixtureRead : public testing::TestWithParam<Fixture> {};

}  // namespace

TEST_P(FixtureRead, ReadsAsTheManifestSays) {
    const Fixture& f = GetParam();
    ASSERT_TRUE(exists(fixture(f.name))) << fixture(f.name);
    Block block = previousFile();
    const bool read = readTag(fixture(f.name), block);
    if (!f.expect) {
        EXPECT_FALSE(read);
        EXPECT_EQ(block, previousFile()) << "a failed read leaves the block alone";
        return;
    }
    ASSERT_TRUE(read);
    std::map<std::string, std::string> expect = *f.expect;
    EXPECT_EQ(utf8(block, 0, 128), expect["title"]);
    EXPECT_EQ(utf8(block, 128, 128), expect["artist"]);
    EXPECT_EQ(utf8(block, 256, 128), expect["album"]);
    EXPECT_EQ(utf8(block, 384, 5), expect["year"]);
    EXPECT_EQ(utf8(block, 389, 128), expect["comment"]);
    EXPECT_EQ(std::to_string(block[520] | block[521] << 8 | block[522] << 16 | block[523] << 24),
              expect["genre_number"]);
    EXPECT_EQ(utf8(block, 524, 128), expect["genre"]);
    EXPECT_EQ(bytes(block, 517, 3), "ZZZ") << "the gap is no field";
}

INSTANTIATE_TEST_SUITE_P(Vbmp3, FixtureRead, testing::ValuesIn(manifest()),
                         [](const testing::TestParamInfo<Fixture>& param) {
                             std::string name =
                                 param.param.name.substr(0, param.param.name.find('.'));
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(Vbmp3Read, FieldsLieInTheBlockByteForByte) {
    TempDir dir;
    makeMp3(dir / "Song.mp3", [](TagLib::MPEG::File& file) {
        TagLib::ID3v2::Tag& tag = *file.ID3v2Tag(true);
        tag.setTitle(TagLib::String("Beyoncé", TagLib::String::UTF8));
        tag.setArtist(TagLib::String("カラオケ", TagLib::String::UTF8));
        tag.setYear(1999);
        tag.setComment("c");
        tag.setGenre("Pop");
    });
    Block block = previousFile();
    ASSERT_TRUE(readTag(dir / "Song.mp3", block));
    const std::string nul(128, '\0');
    EXPECT_EQ(bytes(block, 0, 128), "Beyonc\17700E9" + nul.substr(11));
    EXPECT_EQ(bytes(block, 128, 128), "\x83\x4A\x83\x89\x83\x49\x83\x50" + nul.substr(8));
    EXPECT_EQ(bytes(block, 256, 128), nul) << "no album: empty, not the previous file's";
    EXPECT_EQ(bytes(block, 384, 5), "1999" + nul.substr(127));
    EXPECT_EQ(bytes(block, 389, 128), "c" + nul.substr(1));
    EXPECT_EQ(bytes(block, 520, 4), "\x0D" + nul.substr(125));
    EXPECT_EQ(bytes(block, 524, 128), "Pop" + nul.substr(3));
}

TEST(Vbmp3Read, StreamInformation) {
    TempDir dir;
    writeFile(dir / "Song.mp3", silentFrames(10) + id3v1Tag("T"));
    Block block{};
    MpegInfo mpeg{};
    ASSERT_TRUE(readTag(dir / "Song.mp3", block, &mpeg));
    auto number = [&](std::size_t offset, std::size_t size) {
        unsigned long long value = 0;
        for (std::size_t i = size; i-- > 0;) value = value << 8 | mpeg[offset + i];
        return value;
    };
    EXPECT_EQ(std::vector<int>(mpeg.begin(), mpeg.begin() + 6),
              (std::vector<int>{1, 3, 3, 1, 0, 0}));
    const std::vector<unsigned long long> numbers{
        number(6, 2),  number(8, 4),  number(12, 4), number(16, 4), number(20, 4),
        number(24, 8), number(32, 8), number(40, 8), number(48, 4), number(52, 4)};
    EXPECT_EQ(numbers,
              (std::vector<unsigned long long>{1152, 44100, 128, 261, 10, 0, 10 * kFrameSize,
                                               10 * kFrameSize + 128, 128, kFrameSize}));
}

TEST(Vbmp3Read, FailsWithoutTouchingTheBlock) {
    TempDir dir;
    makeDirs(dir / "Folder.mp3");
    makeMp3(dir / "TrackOnly.mp3",
            [](TagLib::MPEG::File& file) { file.ID3v2Tag(true)->setTrack(3); });
    Block block = previousFile();
    for (const char* name : {"Missing.mp3", "Folder.mp3", "TrackOnly.mp3"})
        EXPECT_FALSE(readTag(dir / name, block)) << name;
    EXPECT_EQ(block, previousFile());
    EXPECT_EQ(vbmp3_getFileInfo(nullptr, block.data(), block.data()), 0);
}
