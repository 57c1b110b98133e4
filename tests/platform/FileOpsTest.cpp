// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileOps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "support/FaultyPosix.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

using namespace kestrom::platform;
using namespace kestrom::test;

namespace {

dev_t deviceOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

enum class Op { Copy, Move, MoveAcross };

std::optional<FileError> apply(Posix& posix, Op op, const std::string& from,
                               const std::string& to) {
    return op == Op::Copy ? FileOps(posix).copyReplacing(from, to)
                          : FileOps(posix).moveReplacing(from, to);
}

class Transfer : public testing::TestWithParam<Op> {
protected:
    // The destination folder: on another file system for MoveAcross.
    void SetUp() override {
        if (GetParam() == Op::MoveAcross) {
            other = std::make_unique<TempDir>("/dev/shm");
            if (deviceOf(other->path()) == deviceOf(dir.path()))
                GTEST_SKIP() << "/dev/shm is no other file system here";
        }
    }
    std::string target(const std::string& name) const {
        return (other ? *other : dir) / ("dst/" + name);
    }
    TempDir dir;
    std::unique_ptr<TempDir> other;
    Posix posix;
};

}  // namespace

// Each failure has its number, and both files stay as they were. A copy onto the
// source itself reached through a link would lose the only copy once the source
// is deleted.
TEST_P(Transfer, FailuresCarryTheirNumberAndLeaveBothFilesAlone) {
    writeFile(dir / "src.mp3", "new");
    writeFile(target("ro.mp3"), "old");
    ::chmod(target("ro.mp3").c_str(), 0444);
    makeDirs(target("folder.mp3"));
    ASSERT_EQ(::symlink(".", (dir / "link").c_str()), 0);
    EXPECT_EQ(apply(posix, GetParam(), dir / "src.mp3", target("ro.mp3")),
              (FileError{70, "書き込みできません。"}));
    for (const auto& [from, to, number] : {std::tuple{dir / "missing.mp3", target("x.mp3"), 53},
                                           {dir / "src.mp3", target("no/such/x.mp3"), 76},
                                           {dir / "src.mp3", target("folder.mp3"), 75},
                                           {dir / "src.mp3", dir / "link/src.mp3", 75}})
        EXPECT_EQ(apply(posix, GetParam(), from, to).value_or(FileError{}).number, number) << to;
    EXPECT_EQ(readFile(target("ro.mp3")) + " " + readFile(dir / "src.mp3"), "old new");
    EXPECT_EQ(hiddenFiles(dir.path()), "");
}

// The file that arrives keeps the replaced file's mode and (where the process
// may) its owner; a new file keeps the source's mode.
TEST_P(Transfer, ArrivesWithTheModeAndOwnerOfTheFileItReplaces) {
    const bool root = ::geteuid() == 0;
    for (const bool replacing : {true, false}) {
        const std::string to = target(replacing ? "old.mp3" : "fresh.mp3");
        writeFile(dir / "src.mp3", "new");
        if (replacing) writeFile(to, "old");
        ::chmod((dir / "src.mp3").c_str(), 0640);
        ::chmod(to.c_str(), 0604);  // when it is there
        ASSERT_TRUE(!replacing || !root || ::chown(to.c_str(), 65534, 65534) == 0);
        ASSERT_EQ(apply(posix, GetParam(), dir / "src.mp3", to), std::nullopt);
        EXPECT_EQ(readFile(to), "new");
        EXPECT_EQ(exists(dir / "src.mp3"), GetParam() == Op::Copy);
        struct stat st {};
        ASSERT_EQ(::stat(to.c_str(), &st), 0);
        EXPECT_EQ(std::pair(st.st_mode & 07777, st.st_uid),
                  std::pair(replacing ? 0604u : 0640u, root && replacing ? 65534u : ::geteuid()));
    }
}

// Whatever single system call fails, the failure is reported and the source is
// still there, beside the old or (when only its deletion failed) the new
// destination; or the transfer succeeds. No temporary file stays.
TEST_P(Transfer, IsAtomicWhicheverCallFails) {
    const std::string big(300'000, 'n');                 // several reads and writes
    for (int nth = 0, total = 0; nth <= total; ++nth) {  // 0: no call fails
        writeFile(dir / "src.mp3", big);
        writeFile(target("Song.mp3"), "old");
        FaultyPosix faulty;
        faulty.failAt(Call::Any, nth, EIO);
        const auto error = apply(faulty, GetParam(), dir / "src.mp3", target("Song.mp3"));
        total = nth == 0 ? faulty.calls(Call::Any) : total;
        const std::string now = readFile(target("Song.mp3"));
        EXPECT_TRUE((nth > 0 || !error) && (now == big || (error && now == "old")) &&
                    exists(dir / "src.mp3") == (error || GetParam() == Op::Copy))
            << "call " << nth;
        EXPECT_EQ(hiddenFiles(target("")), "") << "call " << nth;
    }
}

std::string opName(const testing::TestParamInfo<Op>& info) {
    return info.param == Op::Copy ? "Copy" : info.param == Op::Move ? "Move" : "MoveAcross";
}

INSTANTIATE_TEST_SUITE_P(FileOps, Transfer, testing::Values(Op::Copy, Op::Move, Op::MoveAcross),
                         opName);

// As a user without privileges, in a folder that user may not write.
TEST(FileOps, RealPermissionFailuresAsAnUnprivilegedUser) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    writeTree(dir.path(), "src.mp3:new locked/old.mp3:old");
    for (const char* path : {"src.mp3", "locked/old.mp3"}) ::chmod((dir / path).c_str(), 0644);
    ::chmod((dir / "locked").c_str(), ::geteuid() == 0 ? 0755 : 0555);
    const int result = runUnprivileged([&] {
        Posix posix;
        const auto copy = FileOps(posix).copyReplacing(dir / "src.mp3", dir / "locked/old.mp3");
        const auto remove = FileOps(posix).deleteFile(dir / "locked/old.mp3");
        return copy && copy->number == 70 && remove && remove->number == 70 ? 0 : 1;
    });
    if (result == kCannotDropPrivileges) GTEST_SKIP() << "cannot run as an unprivileged user here";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(dir / "locked/old.mp3"), "old\n");
}
