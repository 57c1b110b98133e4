// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/textidentificationframe.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <unistd.h>

#include <filesystem>

#include "Mp3Files.h"
#include "support/TempDir.h"
#include "vbmp3/vbmp3.h"

using namespace kestrom::test;
using TagLib::String;

namespace {

const std::string kKaraoke = "\x83\x4A\x83\x89\x83\x49\x83\x50";  // カラオケ
const std::string kA = "\x82\xA0";                                // あ

String utf8(const char* text) {
    return String(text, String::UTF8);
}

std::string times(int n, const std::string& s) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

bool noHiddenFiles(const std::string& folder) {
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().starts_with('.')) return false;
    return true;
}

struct FailedWrite {
    const char* name;
    std::function<void(const std::string& path)> setUp;
    int id3v2 = 1;
    int id3v1 = 1;
};

void PrintTo(const FailedWrite& w, std::ostream* os) {
    *os << w.name;
}

class FailingWrite : public testing::TestWithParam<FailedWrite> {};

}  // namespace

TEST(Vbmp3Write, CharactersOutsideCodePage932SurviveTheProgramsRecord) {
    TempDir dir;
    Block block{};
    ASSERT_TRUE(readTag(fixture("v23_outside_cp932.mp3"), block));
    writeFile(dir / "Work.mp3", silentFrames());
    ASSERT_TRUE(writeTag(dir / "Work.mp3", throughProgram(block)));
    {
        TagLib::MPEG::File file((dir / "Work.mp3").c_str());
        const TagLib::ID3v2::Tag& tag = *file.ID3v2Tag();
        EXPECT_EQ(tag.header()->majorVersion(), 3u);
        EXPECT_EQ(tag.title(), utf8("恋♥サーキュレーション"));
        EXPECT_EQ(tag.artist(), utf8("한국 가수"));
        EXPECT_EQ(tag.album(), utf8("Pokémon 〜 Best"));
        EXPECT_EQ(tag.comment(), utf8("🎵 music"));
        for (const char* id : {"TIT2", "TPE1", "TALB", "TDRC"}) {  // TagLib reads TYER as TDRC
            const auto* frame =
                dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(tag.frameList(id).front());
            EXPECT_EQ(frame->textEncoding(), String::UTF16) << id;
        }
    }
    Block again{};
    ASSERT_TRUE(readTag(dir / "Work.mp3", again));
    EXPECT_EQ(again, block) << "reading what was written gives the same block";
}

TEST(Vbmp3Write, Id3v1HoldsCodePage932CutOnACharacterBoundary) {
    TempDir dir;
    const std::string path = dir / "Song_K.mp3";
    writeFile(path, silentFrames());
    Block block{};
    setText(block, 0, 128, "a" + times(15, kA));                 // 31 bytes
    setText(block, 128, 128, kKaraoke + std::string(120, ' '));  // as the program marks it
    setText(block, 384, 5, "2001");
    setText(block, 389, 128, times(15, kA) + "\17700E9");  // 30 bytes and é
    block[520] = 13;
    ASSERT_TRUE(writeTag(path, block));

    const std::string content = readFile(path);
    const std::string tag = content.substr(content.size() - 128);
    EXPECT_EQ(tag.substr(0, 33), "TAGa" + times(14, kA) + std::string(1, '\0'));
    EXPECT_EQ(tag.substr(33, 30), kKaraoke + std::string(22, '\0'));
    EXPECT_EQ(tag.substr(93, 4), "2001");
    EXPECT_EQ(tag.substr(97, 31), times(14, kA) + std::string(2, '\0') + "\x0D");
    TagLib::MPEG::File file(path.c_str());
    EXPECT_EQ(file.ID3v2Tag()->artist(), utf8("カラオケ")) << "trailing blanks are not stored";
    EXPECT_EQ(file.ID3v2Tag()->genre(), "Pop");
}

TEST(Vbmp3Write, KeepsOtherFramesAndLeavesOneId3v2Tag) {
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    makeMp3(
        path,
        [](TagLib::MPEG::File& file) {
            TagLib::ID3v2::Tag& tag = *file.ID3v2Tag(true);
            tag.setTitle("Old");
            tag.setTrack(7);
            tag.addFrame(new TagLib::ID3v2::TextIdentificationFrame("TDRC", String::Latin1));
            tag.frameList("TDRC").front()->setText("2020-05-03");
            auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
            picture->setMimeType("image/png");
            picture->setPicture(TagLib::ByteVector("PNG", 3));
            tag.addFrame(picture);
            auto* lyrics = new TagLib::ID3v2::UnsynchronizedLyricsFrame(String::UTF16);
            lyrics->setText(utf8("歌詞"));
            tag.addFrame(lyrics);
        },
        4);
    // A second tag behind the first, as some taggers leave one.
    TagLib::ID3v2::Tag stale;
    stale.setTitle("Stale");
    const TagLib::ByteVector staleTag = stale.render(TagLib::ID3v2::v3);
    std::string content = readFile(path);
    content.insert(content.size() - silentFrames().size(), staleTag.data(), staleTag.size());
    writeFile(path, content);
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);

    Block block{};
    setText(block, 0, 128, "New");
    setText(block, 384, 5, "2020");
    ASSERT_TRUE(writeTag(path, block));
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0, 0604u);
    content = readFile(path);
    EXPECT_EQ(content.find("ID3", 1), std::string::npos) << "one ID3v2 tag";
    EXPECT_EQ(content.substr(content.size() - 128 - silentFrames().size(), silentFrames().size()),
              silentFrames());
    TagLib::MPEG::File file(path.c_str());
    const TagLib::ID3v2::Tag& tag = *file.ID3v2Tag();
    EXPECT_EQ(tag.title(), "New");
    EXPECT_EQ(tag.track(), 7u);
    EXPECT_EQ(tag.frameList("TDRC").front()->toString(), "2020-05-03")
        << "the same year keeps its day";
    ASSERT_EQ(tag.frameList("APIC").size(), 1u);
    EXPECT_EQ(dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(tag.frameList("APIC").front())
                  ->picture(),
              "PNG");
    ASSERT_EQ(tag.frameList("USLT").size(), 1u);
    EXPECT_EQ(tag.frameList("USLT").front()->toString(), utf8("歌詞"));
}

TEST(Vbmp3Write, ThroughALinkIntoTheFileItLeadsTo) {
    TempDir dir;
    writeFile(dir / "lib/Song.mp3", silentFrames());
    ASSERT_EQ(::symlink("lib/Song.mp3", (dir / "Song.mp3").c_str()), 0);
    ASSERT_TRUE(writeTag(dir / "Song.mp3", Block{'N', 'e', 'w'}));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "Song.mp3"));
    EXPECT_EQ(TagLib::MPEG::File((dir / "lib/Song.mp3").c_str()).tag()->title(), "New");
    EXPECT_TRUE(noHiddenFiles(dir / "lib"));
}

TEST_P(FailingWrite, LeavesTheFileAsItWas) {
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    writeFile(path, silentFrames() + id3v1Tag("Old"));
    GetParam().setUp(path);
    const std::string before =
        exists(path) && !std::filesystem::is_directory(path) ? readFile(path) : "";
    Block block{'N', 'e', 'w'};
    EXPECT_EQ(vbmp3_setTagInfo(path.c_str(), block.data(), GetParam().id3v2, GetParam().id3v1), 0);
    if (!before.empty()) {
        EXPECT_EQ(readFile(path), before);
    }
    EXPECT_TRUE(noHiddenFiles(dir.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Vbmp3, FailingWrite,
    testing::Values(
        FailedWrite{"ReadOnly", [](const std::string& p) { ::chmod(p.c_str(), 0444); }},
        FailedWrite{"NotMpeg",
                    [](const std::string& p) { writeFile(p, "ID3 but text" + id3v1Tag("x")); }},
        FailedWrite{"Missing", [](const std::string& p) { std::filesystem::remove(p); }},
        FailedWrite{"Folder",
                    [](const std::string& p) {
                        std::filesystem::remove(p);
                        makeDirs(p);
                    }},
        FailedWrite{"NoTagAsked", [](const std::string&) {}, 0, 0},
        FailedWrite{"UnknownArgument", [](const std::string&) {}, 2, 1}),
    [](const testing::TestParamInfo<FailedWrite>& param) { return param.param.name; });

// TagLib 1.13 reports success for a save whose writes failed; a file size limit
// makes the save fail half-way (and binds root as well).
TEST(Vbmp3Write, FailingHalfWayLeavesTheFileAsItWas) {
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    writeFile(path, silentFrames(40));
    const std::string before = readFile(path);
    Block block{};
    setText(block, 0, 128, std::string(100, 'T'));
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{before.size() + 256, before.size() + 256};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
        ::_exit(vbmp3_setTagInfo(path.c_str(), block.data(), 1, 1));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the write must fail";
    EXPECT_TRUE(readFile(path) == before) << "the file changed";
    EXPECT_TRUE(noHiddenFiles(dir.path()));
    EXPECT_TRUE(writeTag(path, block)) << "without the limit the same write succeeds";
}
