// SPDX-License-Identifier: GPL-3.0-or-later
// The write path over the platform's seam: in place when the new tag fits, a
// rewrite when it does not, and what any failure, refusal or interference
// leaves behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/FaultyPosix.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "vbmp3/TagText.h"
#include "vbmp3/TagWriter.h"

using namespace kestrom;
using namespace kestrom::test;
using vbmp3::WriteCheck;

namespace {

vbmp3::TagFields newFields() {
    vbmp3::TagFields fields;
    fields.title = u"新しい題名";
    fields.artist = u"カラオケ";
    fields.year = 2024;
    fields.genre = u"Pop";
    fields.genreNumber = 13;
    return fields;
}

std::vector<std::string> hiddenNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().starts_with('.')) names.push_back(e.path().filename());
    return names;
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

// A file whose tag has room for the new one (written in place), and one without
// a tag (rewritten).
enum class Kind { Padded, Untagged };

class Writer : public testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        vbmp3::installStringHandlers();
        const Mp3Tag tag{"Old title", "Old artist", "", "1999", "", ""};
        writeMp3(path, silentAudio(8), GetParam() == Kind::Padded ? &tag : nullptr);
        before = readFile(path);
    }
    std::optional<vbmp3::WriteFailure> write(platform::Posix& posix) {
        return vbmp3::writeFields(posix, path, newFields(), {true, true});
    }

    TempDir dir;
    const std::string path = dir / "Song.mp3";
    std::string before;
    platform::Posix system;
};

std::string kindName(const testing::TestParamInfo<Kind>& info) {
    return info.param == Kind::Padded ? "Padded" : "Untagged";
}

}  // namespace

// In place costs a handful of calls and keeps the file (and its links); a
// rewrite makes a new file, which a hard link does not follow.
TEST_P(Writer, InPlaceWhenTheTagFitsElseARewrite) {
    ASSERT_EQ(::link(path.c_str(), (dir / "Link.mp3").c_str()), 0);
    const ino_t inode = inodeOf(path);
    FaultyPosix counting;
    ASSERT_EQ(write(counting), std::nullopt);
    EXPECT_TRUE(audioOf(path) == silentAudio(8));
    EXPECT_EQ(readMp3Tag(path).title, "新しい題名");
    const bool inPlace = GetParam() == Kind::Padded;
    EXPECT_EQ(inodeOf(path) == inode, inPlace);
    EXPECT_EQ(readFile(dir / "Link.mp3") == readFile(path), inPlace);
    EXPECT_TRUE(inPlace || readFile(dir / "Link.mp3") == before) << "the other name stays whole";
    EXPECT_TRUE(!inPlace || counting.calls(Call::Any) <= 20) << counting.calls(Call::Any);
    EXPECT_TRUE(hiddenNames(dir.path()).empty());

    // The rewrite left room: the next write fits in place.
    const ino_t now = inodeOf(path);
    ASSERT_EQ(write(system), std::nullopt);
    EXPECT_EQ(inodeOf(path), now);
}

// Whatever single call fails, the failure is reported with its errno and the
// file is as it was (or, when only the clean-up after the change failed, new);
// nothing is left beside it.
TEST_P(Writer, AFailureAtAnyCallLeavesTheOldOrTheNewFile) {
    std::string after;
    int total = 0;
    for (int nth = 0; nth == 0 || nth <= total; ++nth) {
        writeFile(path, before);
        FaultyPosix posix;
        if (nth > 0) posix.failAt(Call::Any, nth, EIO);
        const auto failure = write(posix);
        if (nth == 0) {
            ASSERT_EQ(failure, std::nullopt);
            total = posix.calls(Call::Any);
            after = readFile(path);
        }
        const std::string now = readFile(path);
        EXPECT_TRUE(now == before || now == after) << "call " << nth;
        EXPECT_TRUE(failure || now == after) << "call " << nth;
        if (failure) {
            EXPECT_EQ(failure->check, WriteCheck::System) << "call " << nth;
            EXPECT_EQ(failure->error, EIO) << "call " << nth;
        }
        EXPECT_TRUE(hiddenNames(dir.path()).empty()) << "call " << nth;
    }
}

// Another program changes the file while it is being written: the write stops
// before it changes a byte, and what the other program did stays.
TEST_P(Writer, AFileThatChangesDuringTheWriteIsLeftAlone) {
    const bool inPlace = GetParam() == Kind::Padded;
    const auto append = [&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        ASSERT_EQ(::write(fd, "more", 4), 4);
        ::close(fd);
    };
    FaultyPosix grows;  // after it was read, before the first byte changes
    grows.beforeCall(Call::Fstat, 2, append);
    EXPECT_EQ(write(grows)->check, WriteCheck::Busy);
    EXPECT_TRUE(readFile(path) == before + "more");

    writeFile(path, before);
    FaultyPosix replaced;  // another file takes the name
    replaced.beforeCall(inPlace ? Call::Fstat : Call::Stat, inPlace ? 2 : 1, [&] {
        writeFile(dir / "Other.mp3", "another file");
        ::rename((dir / "Other.mp3").c_str(), path.c_str());
    });
    const auto failure = write(replaced);
    EXPECT_EQ(readFile(path), "another file");
    // In place, the old file took the tag and went; a rewrite stops.
    EXPECT_EQ(failure.has_value(), !inPlace);
    EXPECT_TRUE(hiddenNames(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Vbmp3, Writer, testing::Values(Kind::Padded, Kind::Untagged), kindName);

// Each check that refuses a write says so, and the file stays as it is.
TEST(WriterRefusal, EachCheckNamesItself) {
    vbmp3::installStringHandlers();
    TempDir dir;
    platform::Posix system;
    writeFile(dir / "ReadOnly.mp3", silentAudio(4));
    ::chmod((dir / "ReadOnly.mp3").c_str(), 0444);
    writeFile(dir / "Text.mp3", "no audio in here, just text");
    writeFile(dir / "Song.mp3", silentAudio(4));
    makeDirs(dir / "Folder.mp3");
    ASSERT_EQ(::mkfifo((dir / "Pipe.mp3").c_str(), 0644), 0);
    FaultyPosix readOnlyDisk;
    readOnlyDisk.failAt(Call::Open, 1, EROFS);

    const int holder = ::open((dir / "Song.mp3").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another run is writing it

    struct Case {
        const char* name;
        platform::Posix* posix;
        vbmp3::WriteTargets targets;
        WriteCheck check;
        int error;
    };
    for (const Case& c : {Case{"Song.mp3", &system, {false, false}, WriteCheck::NoTarget, EINVAL},
                          Case{"Missing.mp3", &system, {}, WriteCheck::System, ENOENT},
                          Case{"Folder.mp3", &system, {}, WriteCheck::NotPlainFile, EINVAL},
                          Case{"Pipe.mp3", &system, {}, WriteCheck::NotPlainFile, EINVAL},
                          Case{"ReadOnly.mp3", &system, {}, WriteCheck::ReadOnly, EACCES},
                          Case{"Text.mp3", &system, {}, WriteCheck::NotMpegAudio, ENOEXEC},
                          Case{"Song.mp3", &system, {}, WriteCheck::Busy, EBUSY},
                          Case{"Song.mp3", &readOnlyDisk, {}, WriteCheck::System, EROFS}}) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / c.name;
        const std::string before =
            exists(path) && !std::filesystem::is_fifo(path) && !std::filesystem::is_directory(path)
                ? readFile(path)
                : "";
        const auto failure = vbmp3::writeFields(*c.posix, path, newFields(), c.targets);
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->check, c.check);
        EXPECT_EQ(failure->error, c.error);
        EXPECT_TRUE(before.empty() || readFile(path) == before);
    }
    ::close(holder);
    EXPECT_TRUE(hiddenNames(dir.path()).empty());
}
