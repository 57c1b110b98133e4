// SPDX-License-Identifier: GPL-3.0-or-later
// The write path over the platform's seam: in place when the new tag fits, a
// rewrite when it does not, and what any failure, refusal or interference
// leaves behind.
#include "vbmp3/TagWriter.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/FileOps.h"
#include "support/FaultyPosix.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "support/Wine.h"
#include "vbmp3/TagText.h"

using namespace kestrom;
using namespace kestrom::test;
using vbmp3::WriteCheck;

namespace {

const vbmp3::TagFields kFields{u"新しい題名", u"カラオケ", u"", 2024, u"", 13, u"Pop"};

// Padded: a file whose tag has room for the new one (written in place);
// otherwise one without a tag (rewritten).
class Writer : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!padded && underWine()) GTEST_SKIP() << kWineKeepsOpenFiles;
        vbmp3::installStringHandlers();
        const Mp3Tag tag{"Old title", "Old artist", "", "1999", "", ""};
        writeMp3(path, silentAudio(8), padded ? &tag : nullptr);
        before = readFile(path);
    }
    std::optional<vbmp3::WriteFailure> write(platform::Posix& posix) {
        return vbmp3::writeFields(posix, path, kFields, {true, true});
    }

    const bool padded = GetParam();
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    std::string before;
};

}  // namespace

// In place costs a handful of calls and keeps the file; a rewrite makes a new
// file and leaves room for the next write in place. A file with another hard
// link is always made anew: the other name keeps the old file, whole. Either
// way the file keeps its mode, special bits included. Writing what the file
// already holds writes nothing at all.
TEST_P(Writer, InPlaceWhenTheTagFitsElseARewrite) {
    platform::Posix& system = platform::systemPosix();
#ifndef _WIN32
    ASSERT_EQ(::chmod(path.c_str(), 02755), 0);
#endif
    FaultyPosix counting;
    ASSERT_EQ(write(counting), std::nullopt);
    EXPECT_TRUE(audioOf(path) == silentAudio(8));
    const Mp3Tag written{"新しい題名", "カラオケ", "", "2024", "", "Pop"};
    EXPECT_TRUE(readMp3Tag(path) == written);
    EXPECT_LE(padded ? counting.calls(Call::Any) : 0, 28);
    EXPECT_EQ(hiddenFiles(dir.path()), "");

    const std::string tagged = readFile(path);
    struct stat old {
    }, now{};
    ASSERT_EQ(system.stat(path.c_str(), &old), 0);
#ifndef _WIN32
    EXPECT_EQ(old.st_mode & 07777, 02755u);
#endif
    FaultyPosix again;
    ASSERT_EQ(write(again), std::nullopt);
    ASSERT_EQ(system.stat(path.c_str(), &now), 0);
    EXPECT_TRUE(readFile(path) == tagged && now.st_mtim.tv_nsec == old.st_mtim.tv_nsec &&
                again.calls(Call::Pwrite) + again.calls(Call::Fsync) + again.calls(Call::Rename) ==
                    0);

    // Made anew, the audio keeps its offset within a block of the file system,
    // so that a file system with shared extents shares its blocks.
    if (underWine()) GTEST_SKIP() << kWineKeepsOpenFiles;
    writeFile(path, before);
    ASSERT_EQ(system.link(path.c_str(), (dir / "Link.mp3").c_str()), 0);
    ASSERT_EQ(write(counting), std::nullopt);
    EXPECT_TRUE(readMp3Tag(path) == written && audioOf(path) == silentAudio(8) &&
                readFile(dir / "Link.mp3") == before);
    const auto block = static_cast<std::size_t>(platform::sharingBlockSize(now));
    EXPECT_EQ(readFile(path).find(silentAudio(8)) % block, before.find(silentAudio(8)) % block);
}

// Whatever single call fails, the failure is reported with its errno and the
// file is as it was (or, when only the clean-up after the change failed, new);
// nothing is left beside it that could roll it back.
TEST_P(Writer, AFailureAtAnyCallLeavesTheOldOrTheNewFile) {
    std::string after;
    for (int nth = 0, total = 0; nth <= total; ++nth) {  // 0: no call fails
        writeFile(path, before);
        FaultyPosix posix;
        posix.failAt(Call::Any, nth, EIO);
        const auto failure = write(posix);
        total = nth == 0 ? posix.calls(Call::Any) : total;
        after = nth == 0 ? readFile(path) : after;
        const std::string now = readFile(path);
        EXPECT_TRUE(failure ? nth > 0 && failure->check == WriteCheck::System &&
                                  failure->error == EIO && (now == before || now == after)
                            : now == after)
            << "call " << nth;
        // A journal whose removal failed is marked done: it rolls nothing back,
        // and the next write in the folder removes it.
        const std::string journal = dir / std::string(platform::kJournalName);
        if (posix.failed() == Call::Unlink && exists(journal))
            EXPECT_TRUE(readFile(journal).starts_with("KSTRDONE")) << "call " << nth;
        else
            EXPECT_EQ(hiddenFiles(dir.path()), "") << "call " << nth;
    }
}

// Another program changes the file while it is being written: the write stops
// before it changes a byte, and what the other program did stays, also a change
// of one byte within the same second, which only the nanoseconds of the file's
// time tell. Another file takes the name: in place, the old file took the tag
// and went; a rewrite stops.
TEST_P(Writer, AFileThatChangesDuringTheWriteIsLeftAlone) {
    std::string edited = before;
    edited[edited.size() / 2] ^= 1;
    for (const std::string& other : {before + "more", edited}) {
        writeFile(path, before);
        struct stat opened {};
        ASSERT_EQ(platform::systemPosix().stat(path.c_str(), &opened), 0);
        FaultyPosix changes;  // after it was read, before the first byte changes
        changes.beforeCall(Call::Fstat, 2, [&] {
            writeFile(path, other);
#ifndef _WIN32
            timespec times[2] = {opened.st_atim, opened.st_mtim};
            times[1].tv_nsec = (times[1].tv_nsec + 1) % 1'000'000'000;
            ::utimensat(AT_FDCWD, path.c_str(), times, 0);
#endif
        });
        EXPECT_EQ(write(changes).value_or(vbmp3::WriteFailure{}).check, WriteCheck::Busy);
        EXPECT_TRUE(readFile(path) == other);
    }

    if (underWine()) GTEST_SKIP() << "wine refuses to rename another file over one that is open";
    writeFile(path, before);
    FaultyPosix replaced;
    replaced.beforeCall(padded ? Call::Fstat : Call::Stat, padded ? 2 : 1, [&] {
        writeFile(dir / "Other.mp3", "another file");
        platform::systemPosix().rename((dir / "Other.mp3").c_str(), path.c_str());
    });
    EXPECT_EQ(write(replaced).has_value(), !padded);
    EXPECT_EQ(readFile(path), "another file");
    EXPECT_EQ(hiddenFiles(dir.path()), "");
}

INSTANTIATE_TEST_SUITE_P(Vbmp3, Writer, testing::Bool(), [](const testing::TestParamInfo<bool>& p) {
    return p.param ? "Padded" : "Untagged";
});

// Each check that refuses a write says so, and the file stays as it is.
TEST(WriterRefusal, EachCheckNamesItself) {
    vbmp3::installStringHandlers();
    TempDir dir;
    writeTree(dir.path(),
              "!ReadOnly.mp3:" + silentAudio(4) + " Song.mp3:" + silentAudio(4) + " Folder.mp3/x:");
    writeFile(dir / "Text.mp3", readFile(KESTROM_FIXTURES_DIR "/tags/not_mpeg_with_tag.mp3"));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir / "Pipe.mp3").c_str(), 0644),
              0);  // Windows has no named pipe in a folder
#endif
    platform::Posix system;
    const platform::Fd holder(system, system.open((dir / "Song.mp3").c_str(), O_RDONLY, 0));
    ASSERT_EQ(system.flock(holder.get(), LOCK_EX), 0);  // another run is writing it
    const std::string before = treeText(dir.path());
    for (const auto& [name, targets, check, error] :
         {std::tuple<const char*, vbmp3::WriteTargets, WriteCheck, int>{
              "Song.mp3", {false, false}, WriteCheck::NoTarget, EINVAL},
          {"Missing.mp3", {}, WriteCheck::System, ENOENT},
          {"Folder.mp3", {}, WriteCheck::NotPlainFile, EINVAL},
#ifndef _WIN32
          {"Pipe.mp3", {}, WriteCheck::NotPlainFile, EINVAL},
#endif
          {"ReadOnly.mp3", {}, WriteCheck::ReadOnly, EACCES},
          {"Text.mp3", {}, WriteCheck::NotMpegAudio, ENOEXEC},  // a tag in front of text
          {"Song.mp3", {}, WriteCheck::Busy, EBUSY}}) {
        const auto failure = vbmp3::writeFields(system, dir / name, kFields, targets);
        EXPECT_TRUE(failure && failure->check == check && failure->error == error) << name;
    }
    EXPECT_TRUE(treeText(dir.path()) == before) << "a refused write changed a file";
    EXPECT_EQ(hiddenFiles(dir.path()), "");
}

// A check makes no change and needs none: it refuses a write into a file whose
// folder the process may not write (where the journal or the copy would
// go), but not a write that would change nothing.
TEST(WriterCheck, AFolderThatCannotTakeTheChangeRefusesOnlyAChange) {
    if (underWine()) GTEST_SKIP() << kWineKeepsOpenFiles;
    vbmp3::installStringHandlers();
    TempDir dir;
    const std::string path = dir / "Song.mp3";
    writeMp3(path, silentAudio(4), nullptr);
    const vbmp3::TagFields fields{u"題名", u"", u"", 0, u"", 255, u""};
    FaultyPosix locked;
    locked.failAt(Call::Access, 1, EACCES);
    const auto refused = vbmp3::writeFields(locked, path, fields, {}, vbmp3::WriteMode::Check);
    EXPECT_TRUE(refused && refused->error == EACCES);
    platform::Posix system;
    ASSERT_EQ(vbmp3::writeFields(system, path, fields, {}), std::nullopt);
    const std::string written = readFile(path);
    FaultyPosix again;
    again.failAt(Call::Access, 1, EACCES);
    EXPECT_EQ(vbmp3::writeFields(again, path, fields, {}, vbmp3::WriteMode::Check), std::nullopt);
    EXPECT_TRUE(readFile(path) == written && hiddenFiles(dir.path()).empty());
}
