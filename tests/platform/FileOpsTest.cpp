// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileOps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/FaultyPosix.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

using namespace kestrom::platform;
using namespace kestrom::test;

namespace {

// Names in a folder that a listing of the program would never show.
std::vector<std::string> hiddenNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (e.path().filename().string().starts_with('.')) names.push_back(e.path().filename());
    return names;
}

}  // namespace

TEST(FileOps, CopyFailuresCarryTheirNumberAndLeaveTheDestinationAlone) {
    TempDir dir;
    writeFile(dir / "src.mp3", "new");
    writeFile(dir / "ro.mp3", "old");
    ::chmod((dir / "ro.mp3").c_str(), 0444);
    makeDirs(dir / "folder.mp3");
    FileOps ops;
    EXPECT_EQ(ops.copyReplacing(dir / "src.mp3", dir / "ro.mp3"),
              (FileError{70, "書き込みできません。"}));
    EXPECT_EQ(readFile(dir / "ro.mp3"), "old");
    EXPECT_EQ(ops.copyReplacing(dir / "missing.mp3", dir / "x.mp3")->number, 53);
    EXPECT_EQ(ops.copyReplacing(dir / "src.mp3", dir / "no/such/x.mp3")->number, 76);
    EXPECT_EQ(ops.copyReplacing(dir / "src.mp3", dir / "folder.mp3")->number, 75);
    FaultyPosix full;
    full.failAt(Call::Write, 1, ENOSPC);
    EXPECT_EQ(FileOps(full).copyReplacing(dir / "src.mp3", dir / "ro.mp3")->number,
              70);  // refused before writing
    EXPECT_EQ(FileOps(full).copyReplacing(dir / "src.mp3", dir / "new.mp3"),
              (FileError{61, "ディスクの空き容量が足りません。"}));
    EXPECT_TRUE(hiddenNames(dir.path()).empty());
}

TEST(FileOps, CopyOntoItselfThroughALinkIsRefusedSoNothingIsLost) {
    TempDir dir;
    writeFile(dir / "work/Song.mp3", "only copy");
    ASSERT_EQ(::symlink("work", (dir / "lib").c_str()), 0);
    FileOps ops;
    const auto error = ops.copyReplacing(dir / "work/Song.mp3", dir / "lib/Song.mp3");
    ASSERT_TRUE(error);
    EXPECT_EQ(error->number, 75);
    EXPECT_EQ(readFile(dir / "work/Song.mp3"), "only copy");
}

// Whatever single system call fails, the copy reports it and the destination is
// still the old file, or the copy reports success and the destination is the new
// one; no temporary file is left behind either way.
TEST(FileOps, CopyIsAtomicWhicheverCallFails) {
    TempDir dir;
    const std::string big(300'000, 'n');  // several reads and writes
    writeFile(dir / "src.mp3", big);
    writeFile(dir / "dst/Song.mp3", "old");
    int total = 0;
    {
        FaultyPosix counting;
        ASSERT_EQ(FileOps(counting).copyReplacing(dir / "src.mp3", dir / "dst/Song.mp3"),
                  std::nullopt);
        total = counting.calls(Call::Any);
    }
    for (int nth = 1; nth <= total; ++nth) {
        writeFile(dir / "dst/Song.mp3", "old");
        FaultyPosix posix;
        posix.failAt(Call::Any, nth, EIO);
        const auto error = FileOps(posix).copyReplacing(dir / "src.mp3", dir / "dst/Song.mp3");
        const std::string now = readFile(dir / "dst/Song.mp3");
        if (error) {
            EXPECT_EQ(now, "old") << "call " << nth;
        } else {
            EXPECT_EQ(now, big) << "call " << nth;
        }
        EXPECT_TRUE(hiddenNames(dir / "dst").empty()) << "call " << nth;
    }
}

TEST(FileOps, ReadAllTakesEveryChunkAndRefusesTooLargeAFileOrAFailedRead) {
    TempDir dir;
    const std::string big(300'000, 'n');  // several reads
    writeFile(dir / "icon.png", big);
    std::string content;
    EXPECT_EQ(FileOps().readAll(dir / "icon.png", big.size(), content), std::nullopt);
    EXPECT_EQ(content, big);
    EXPECT_TRUE(FileOps().readAll(dir / "icon.png", big.size() - 1, content));
    EXPECT_EQ(FileOps().readAll(dir / "missing.png", big.size(), content)->number, 53);
    FaultyPosix posix;
    posix.failAt(Call::Read, 2, EIO);
    EXPECT_TRUE(FileOps(posix).readAll(dir / "icon.png", big.size(), content));
}

// A writer edits a hidden copy of a file, which replaces the file only when
// committed, with the file's mode and (where the process may) its owner.
TEST(FileOps, ReplacementByAnEditedCopyOfItself) {
    TempDir dir;
    writeFile(dir / "Song.mp3", "before");
    ::chmod((dir / "Song.mp3").c_str(), 0604);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((dir / "Song.mp3").c_str(), 65534, 65534), 0);
    }
    FileOps ops;
    for (const bool commit : {false, true}) {
        std::optional<PendingFile> pending;
        ASSERT_EQ(ops.prepareReplacement(dir / "Song.mp3", dir / "Song.mp3", pending),
                  std::nullopt);
        EXPECT_TRUE(std::filesystem::path(pending->path()).filename().string().starts_with('.'));
        writeFile(pending->path(), "after");
        if (commit) {
            EXPECT_EQ(pending->commit(), std::nullopt);
        }
        pending.reset();
        EXPECT_EQ(readFile(dir / "Song.mp3"), commit ? "after" : "before");
        EXPECT_TRUE(hiddenNames(dir.path()).empty());
    }
    struct stat st {};
    ASSERT_EQ(::stat((dir / "Song.mp3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
    }
}

TEST(FileOps, RealPermissionFailuresAsAnUnprivilegedUser) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    writeFile(dir / "src.mp3", "new");
    ::chmod((dir / "src.mp3").c_str(), 0644);
    writeFile(dir / "locked/old.mp3", "old");
    ::chmod((dir / "locked/old.mp3").c_str(), 0644);
    ::chmod((dir / "locked").c_str(), ::geteuid() == 0 ? 0755 : 0555);
    const int result = runUnprivileged([&] {
        FileOps ops;
        const auto copy = ops.copyReplacing(dir / "src.mp3", dir / "locked/old.mp3");
        const auto remove = ops.deleteFile(dir / "locked/old.mp3");
        return copy && copy->number == 70 && remove && remove->number == 70 ? 0 : 1;
    });
    if (result == kCannotDropPrivileges) GTEST_SKIP() << "cannot run as an unprivileged user here";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(dir / "locked/old.mp3"), "old");
}
