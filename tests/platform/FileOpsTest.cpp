// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileOps.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <tuple>
#include <vector>

#include "support/FaultyPosix.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

using namespace kestrom::platform;
using namespace kestrom::test;

namespace {

enum class Op { Copy, Move, MoveAcross };
const char* const kOpNames[] = {"Copy", "Move", "MoveAcross"};

// A file from src/ to dst/; for MoveAcross dst/ is on another file system.
class Transfer : public testing::TestWithParam<Op> {
protected:
    void SetUp() override {
        struct stat a {};
        struct stat b = a;
        if (GetParam() == Op::MoveAcross && ::stat(dir.path().c_str(), &a) == 0 &&
            ::stat(dst.path().c_str(), &b) == 0 && a.st_dev == b.st_dev)
            GTEST_SKIP() << "/dev/shm is no other file system here";
    }
    std::optional<FileError> apply(Posix& via, const std::string& from, const std::string& to) {
        return GetParam() == Op::Copy ? FileOps(via).copyReplacing(from, to)
                                      : FileOps(via).moveReplacing(from, to);
    }
    TempDir dir, dst{GetParam() == Op::MoveAcross ? "/dev/shm" : ""};
    Posix posix;
};

}  // namespace

// Each failure has its number, and both files stay as they were. A copy onto the
// source itself reached through a link would lose the only copy once the source
// is deleted.
TEST_P(Transfer, FailuresCarryTheirNumberAndLeaveBothFilesAlone) {
    writeFile(dir / "src.mp3", "new");
    writeTree(dst.path(), "!ro.mp3:old folder.mp3/x:");
    ASSERT_EQ(::symlink(".", (dir / "link").c_str()), 0);
    EXPECT_EQ(apply(posix, dir / "src.mp3", dst / "ro.mp3"),
              (FileError{70, "書き込みできません。"}));
    for (const auto& [from, to, number] : {std::tuple{dir / "missing.mp3", dst / "x.mp3", 53},
                                           {dir / "src.mp3", dst / "no/such/x.mp3", 76},
                                           {dir / "src.mp3", dst / "folder.mp3", kNotPlainFile},
                                           {dir / "src.mp3", dir / "link/src.mp3", kSameFile}})
        EXPECT_EQ(apply(posix, from, to).value_or(FileError{}).number, number) << to;
    EXPECT_EQ(readFile(dst / "ro.mp3") + readFile(dir / "src.mp3"), "old\nnew");
    EXPECT_EQ(hiddenFiles(dir.path()) + hiddenFiles(dst.path()), "");
}

// The file that arrives keeps the replaced file's mode and (where the process
// may) its owner; a new file keeps the source's mode. Modes keep their special
// bits (set-group-ID, sticky), also where a change of owner clears them. When a
// step fails (the rename, or the change of mode after the change of owner), the
// source keeps its own mode and owner, and the destination is as it was.
TEST_P(Transfer, ArrivesWithTheModeAndOwnerOfTheFileItReplaces) {
    const bool root = ::geteuid() == 0;
    for (const Call failing : {Call::Count, Call::Rename, Call::Chmod}) {
        for (const auto& [replacing, sourceMode, mode] :
             {std::tuple{true, 0640u, 02755u}, {true, 02755u, 02755u}, {false, 01644u, 01644u}}) {
            SCOPED_TRACE(testing::Message() << "failing " << int(failing) << ", replacing "
                                            << replacing << ", mode " << std::oct << mode);
            const std::string to = dst / (replacing ? "old.mp3" : "fresh.mp3");
            for (const std::string& file : {dir / "src.mp3", to}) ::unlink(file.c_str());
            writeFile(dir / "src.mp3", "new");
            if (replacing) writeFile(to, "old");
            ASSERT_TRUE(!replacing || !root || ::chown(to.c_str(), 65534, 65534) == 0);
            ::chmod((dir / "src.mp3").c_str(), sourceMode);
            ::chmod(to.c_str(), mode);  // when it is there
            FaultyPosix faulty;
            faulty.failAt(failing, 1, EIO);
            const bool failed = apply(faulty, dir / "src.mp3", to).has_value();
            ASSERT_EQ(failed, faulty.failed() != Call::Count);
            struct stat st {};
            if (failed) {
                ASSERT_EQ(::stat((dir / "src.mp3").c_str(), &st), 0);
                EXPECT_EQ(std::tuple(st.st_mode & 07777, st.st_uid, exists(to) ? readFile(to) : ""),
                          std::tuple(sourceMode, ::geteuid(), replacing ? "old" : ""));
                continue;
            }
            ASSERT_EQ(::stat(to.c_str(), &st), 0);
            EXPECT_EQ(
                std::tuple(readFile(to), exists(dir / "src.mp3"), st.st_mode & 07777, st.st_uid),
                std::tuple("new", GetParam() == Op::Copy, mode,
                           root && replacing ? 65534u : ::geteuid()));
        }
    }
}

// Whatever single system call fails, the failure is reported (but a close's,
// which loses nothing), and the source is still there, beside the old or (when
// only its deletion or the folder's sync after the rename failed) the new
// destination; or the transfer succeeds. No temporary file stays.
TEST_P(Transfer, IsAtomicWhicheverCallFails) {
    const std::string big(300'000, 'n');                 // several reads and writes
    for (int nth = 0, total = 0; nth <= total; ++nth) {  // 0: no call fails
        writeFile(dir / "src.mp3", big);
        writeFile(dst / "Song.mp3", "old");
        FaultyPosix faulty;
        faulty.failAt(Call::Any, nth, EIO);
        const auto error = apply(faulty, dir / "src.mp3", dst / "Song.mp3");
        total = nth == 0 ? faulty.calls(Call::Any) : total;
        const std::string now = readFile(dst / "Song.mp3");
        const bool reported =
            error || faulty.failed() == Call::Count || faulty.failed() == Call::Close;
        EXPECT_TRUE(reported && (nth > 0 || !error) && (now == big || (error && now == "old")) &&
                    exists(dir / "src.mp3") == (error || GetParam() == Op::Copy) &&
                    hiddenFiles(dst.path()).empty())
            << "call " << nth << " of kind " << int(faulty.failed());
    }
}

INSTANTIATE_TEST_SUITE_P(FileOps, Transfer, testing::Values(Op::Copy, Op::Move, Op::MoveAcross),
                         [](const auto& op) { return std::string(kOpNames[int(op.param)]); });

// As a user without privileges, in a folder that user may not write.
TEST(FileOps, RealPermissionFailuresAsAnUnprivilegedUser) {
    TempDir dir;
    writeTree(dir.path(), "src.mp3:new locked/old.mp3:old");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "src.mp3").c_str(), 0644);
    ::chmod((dir / "locked").c_str(), 0555);
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

namespace {

// The real calls, with the pieces each copy inside the kernel was asked for.
class RecordingCopies : public FaultyPosix {
public:
    ssize_t copyFileRange(int in, off_t* inOffset, int out, off_t* outOffset,
                          size_t count) override {
        pieces.push_back(static_cast<off_t>(count));
        return FaultyPosix::copyFileRange(in, inOffset, out, outOffset, count);
    }
    std::vector<off_t> pieces;
};

}  // namespace

// A copy whose offsets lie at the same place within a block goes in pieces cut
// at the block boundaries, the middle one whole blocks that a file system with
// shared extents shares; any other copy goes in one call. The same bytes arrive
// either way, also when the kernel gives up half-way and the rest goes by reads
// and writes.
TEST(CopyRange, SplitsAtBlockBoundariesWhereBothOffsetsAgree) {
    struct Case {
        off_t in, out, length, block;
        std::vector<off_t> pieces;
    };
    const std::vector<Case> cases = {
        {1234, 1234 + 2 * 4096, 20000, 4096, {2862, 16384, 754}},
        {1234, 1234, 20000, 512, {302, 19456, 242}},
        {0, 4096, 10000, 4096, {8192, 1808}},
        {1000, 1000, 500, 4096, {500}},
        {100, 200, 20000, 4096, {20000}},  // not at the same place within a block
        {1234, 1234, 20000, 0, {20000}},   // no split asked for
    };
    TempDir dir;
    std::string source(40000, '\0');
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7 + i / 251);
    writeFile(dir / "in", source);
    for (const Case& c : cases) {
        for (const bool givesUp : {false, true}) {
            RecordingCopies posix;
            if (givesUp) posix.failAt(Call::CopyFileRange, 2, EXDEV);
            ::unlink((dir / "out").c_str());
            const int in = ::open((dir / "in").c_str(), O_RDONLY);
            const int out = ::open((dir / "out").c_str(), O_RDWR | O_CREAT, 0644);
            EXPECT_EQ(copyRange(posix, in, c.in, out, c.out, c.length, c.block), 0);
            ::close(in);
            ::close(out);
            if (!givesUp) {
                EXPECT_EQ(posix.pieces, c.pieces) << c.in << " to " << c.out;
            }
            const std::string copied = readFile(dir / "out");
            EXPECT_TRUE(copied == std::string(static_cast<std::size_t>(c.out), '\0') +
                                      source.substr(static_cast<std::size_t>(c.in),
                                                    static_cast<std::size_t>(c.length)))
                << c.in << " to " << c.out << (givesUp ? ", given up" : "");
        }
    }
    // The block comes from the file's status, and a size no file system shares
    // by is taken for the common 4096.
    for (const auto& [blksize, block] : {std::pair<blksize_t, off_t>{512, 512},
                                         {65536, 65536},
                                         {0, 4096},
                                         {3000, 4096},
                                         {1 << 20, 4096}}) {
        struct stat st {};
        st.st_blksize = blksize;
        EXPECT_EQ(sharingBlockSize(st), block) << blksize;
    }
}
