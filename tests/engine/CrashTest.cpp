// SPDX-License-Identifier: GPL-3.0-or-later
// A run is recorded call by call at the platform's seam. Then, for every moment
// between two calls, the files are rebuilt as a crash at that moment leaves
// them: as a killed process leaves them (every call before it done), and as a
// power loss may (writes that were not synced lost, or cut short; renames and
// removals after the last sync of a folder lost). The clean-up that the next
// run makes must then leave every file whole: its audio unchanged, its tag old
// or new, in at least one place, every song's MP3 file and companion in the
// library both old or both new, and nothing of the program's hidden files.
// A run after that finishes the job: every file ends where and as the recorded
// run left it, none stranded in the work folder.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <filesystem>
#include <map>

#include "RecordingWindow.h"
#include "Songs.h"
#include "engine/PairMove.h"
#include "engine/Run.h"
#include "platform/FileChange.h"
#include "support/Wine.h"
#include "vbmp3/Entry.h"

using namespace kestrom;
using namespace kestrom::test;
namespace fs = std::filesystem;

namespace {

// A recorded call that changes files. Paths are relative to the tree's root; a
// file is known by a number of its own, as the system reuses inode numbers.
struct Op {
    enum Kind { Create, Write, Truncate, Sync, SyncFolder, SyncAll, Rename, Unlink, Link } kind;
    int file = -1;
    std::string path{}, to{};  // Create, Unlink: path; Rename: path to to; Link: to to path
    off_t offset = 0;          // Write: where; Truncate: the new length
    std::string bytes{};       // Write
};

// The files as a crash leaves them.
struct Disk {
    std::map<std::string, int> names;
    std::map<int, std::string> content;
};

// The real system calls, with every change recorded in order. The files that are
// there before the run enter the record first, created, written and synced.
class RecordingPosix : public platform::Posix {
public:
    explicit RecordingPosix(const std::string& root) : m_root(root + "/") {
        for (const std::string& path : treeOf(root)) {
            if (!fs::is_regular_file(nativePath(m_root + path))) continue;
            const int file = identify(inodeOf(m_root + path));
            ops.push_back({Op::Create, file, path});
            ops.push_back({Op::Write, file, "", "", 0, readFile(m_root + path)});
            ops.push_back({Op::Sync, file});
        }
        ops.push_back({Op::SyncFolder});
        existing = static_cast<int>(inodes.size());
    }
    std::vector<Op> ops;
    std::vector<ino_t> inodes;  // the inode number each file had
    int existing = 0;           // the files there before the run come first

    int open(const char* path, int flags, mode_t mode) override {
        const int fd = Posix::open(path, flags, mode);
        const ino_t inode = inodeOf(path);
        if (fd < 0) return fd;
        if ((flags & O_CREAT) != 0 || !m_files.contains(inode)) identify(inode);
        if ((flags & O_CREAT) != 0) ops.push_back({Op::Create, m_files[inode], relative(path)});
        m_open[fd] = m_files[inode];
        return fd;
    }
    ssize_t pwrite(int fd, const void* b, size_t n, off_t offset) override {
        const ssize_t done = Posix::pwrite(fd, b, n, offset);
        const std::string_view bytes(static_cast<const char*>(b), done > 0 ? size_t(done) : 0);
        if (done > 0) ops.push_back({Op::Write, m_open.at(fd), "", "", offset, std::string(bytes)});
        return done;
    }
    // Copies go by reads and positioned writes, which are recorded.
    ssize_t copyFileRange(int, off_t*, int, off_t*, size_t) override {
        errno = ENOSYS;
        return -1;
    }
    int ftruncate(int fd, off_t length) override {
        return record(Posix::ftruncate(fd, length), {Op::Truncate, m_open.at(fd), "", "", length});
    }
    int fsync(int fd) override {
        struct stat st {};
        Posix::fstat(fd, &st);
        return record(Posix::fsync(fd),
                      {S_ISDIR(st.st_mode) ? Op::SyncFolder : Op::Sync, m_open.at(fd)});
    }
    int fdatasync(int fd) override { return fsync(fd); }
    // The whole file system: every file's data and every folder's names.
    int flushFiles(std::span<const int> fds) override {
        return record(Posix::flushFiles(fds), {Op::SyncAll});
    }
    int rename(const char* from, const char* to) override {
        return record(Posix::rename(from, to), {Op::Rename, -1, relative(from), relative(to)});
    }
    int unlink(const char* path) override {
        return record(Posix::unlink(path), {Op::Unlink, -1, relative(path)});
    }
    int link(const char* from, const char* to) override {
        return record(Posix::link(from, to), {Op::Link, -1, relative(from), relative(to)});
    }

private:
    int identify(ino_t inode) {
        inodes.push_back(inode);
        return m_files[inode] = static_cast<int>(inodes.size()) - 1;
    }
    int record(int result, Op op) {
        if (result == 0) ops.push_back(std::move(op));
        return result;
    }
    std::string relative(const std::string& path) const {
        EXPECT_TRUE(path.starts_with(m_root)) << path;
        const std::u8string normal =
            nativePath(path.substr(m_root.size())).lexically_normal().generic_u8string();
        return {normal.begin(), normal.end()};
    }
    std::string m_root;
    std::map<ino_t, int> m_files;  // inode -> the file that has it now
    std::map<int, int> m_open;     // descriptor -> file
};

// The real system calls over a rebuilt tree, which shows every file under the
// inode number it had when the calls were recorded: the journals name and
// hold those numbers.
class RebuiltPosix : public platform::Posix {
public:
    std::map<ino_t, ino_t> recorded;  // rebuilt inode -> recorded inode

    int fstat(int fd, struct stat* s) override { return translate(Posix::fstat(fd, s), s); }
    int stat(const char* p, struct stat* s) override { return translate(Posix::stat(p, s), s); }
    int lstat(const char* p, struct stat* s) override { return translate(Posix::lstat(p, s), s); }

private:
    int translate(int result, struct stat* st) {
        if (result == 0 && recorded.contains(st->st_ino)) st->st_ino = recorded[st->st_ino];
        return result;
    }
};

// Kill: every call done. PowerLoss: writes not synced are lost. TornWrite: the
// last write not synced is cut short. LostRenames: besides, creations, renames
// and removals after the last sync of a folder are lost. Reordered: as
// LostRenames, but the writes not synced did reach the files that were there
// before the run, and only those: the disk wrote in an order of its own.
enum class Crash { Kill, PowerLoss, TornWrite, LostRenames, Reordered };

void applyData(std::map<int, std::string>& content, const Op& op, bool torn = false) {
    if (op.kind == Op::Truncate) content[op.file].resize(static_cast<size_t>(op.offset));
    if (op.kind != Op::Write) return;
    const std::string bytes = torn ? op.bytes.substr(0, op.bytes.size() / 2) : op.bytes;
    std::string& data = content[op.file];
    data.resize(std::max(data.size(), static_cast<size_t>(op.offset) + bytes.size()), '\0');
    data.replace(static_cast<size_t>(op.offset), bytes.size(), bytes);
}

// The disk after the first `done` calls, as the crash leaves it.
Disk crashAfter(const RecordingPosix& run, size_t done, Crash crash) {
    const std::vector<Op>& ops = run.ops;
    Disk disk;
    std::map<int, std::string> written;  // what the process wrote
    size_t lastFolderSync = 0;
    std::map<int, size_t> lastSync;
    for (size_t i = 0; i < done; ++i) {
        const Op& op = ops[i];
        applyData(written, op);
        if (op.kind == Op::Create) disk.content[op.file] = written[op.file] = "";
        if (op.kind == Op::SyncFolder) lastFolderSync = i + 1;
        if (op.kind == Op::Sync) disk.content[op.file] = written[op.file];
        if (op.kind == Op::Sync || op.kind == Op::SyncFolder) lastSync[op.file] = i + 1;
        if (op.kind == Op::SyncAll) {
            lastFolderSync = i + 1;
            for (const auto& [file, content] : written) {
                disk.content[file] = content;
                lastSync[file] = i + 1;
            }
        }
    }
    const bool renamesLost = crash == Crash::LostRenames || crash == Crash::Reordered;
    for (size_t i = 0; i < (renamesLost ? lastFolderSync : done); ++i) {
        const Op& op = ops[i];
        if (op.kind == Op::Create) disk.names[op.path] = op.file;
        if (op.kind == Op::Rename || op.kind == Op::Link)
            disk.names[op.to] = disk.names.at(op.path);
        if (op.kind == Op::Rename || op.kind == Op::Unlink) disk.names.erase(op.path);
    }
    if (crash == Crash::Kill) disk.content = written;
    for (int file = 0; crash == Crash::Reordered && file < run.existing; ++file)
        disk.content[file] = written[file];
    // The last write that was not synced reached the disk half-way.
    for (size_t i = done; crash == Crash::TornWrite && i-- > 0;) {
        if (ops[i].kind != Op::Write) continue;
        if (lastSync[ops[i].file] <= i) applyData(disk.content, ops[i], true);
        break;
    }
    return disk;
}

// The seam the tag library's calls go through: the recording's, then the rebuilt tree's.
platform::Posix* seam = nullptr;

}  // namespace

TEST(CrashTest, EveryCrashLeavesEveryFileWholeAfterTheCleanUp) {
    if (underWine()) GTEST_SKIP() << kWineKeepsOpenFiles;
    TempDir dir;
    std::vector<Song> songs = writeSongs(dir.path(), 3, 3);
    RecordingPosix posix(dir.path());
    const size_t start = posix.ops.size();
    seam = &posix;
    binding::Vbmp3 library(
        [](const char* path, char* record, std::uint32_t size, unsigned char* mpeg) {
            return vbmp3::getFileInfoUtf8(*seam, path, record, size, mpeg);
        },
        [](const char* path, const char* record, std::uint32_t size, std::int32_t a, std::int32_t b,
           std::int32_t checkOnly) {
            return vbmp3::setTagInfoUtf8(*seam, path, record, size, a, b, checkOnly);
        },
        {[] { return vbmp3::beginBatch(*seam); }, vbmp3::addTagInfoUtf8, vbmp3::commitBatch,
         vbmp3::endBatch});
    RecordingWindow window(dir / "lib", dir / "work", true);
    engine::RunOptions twoBatches;  // two files, then one
    twoBatches.batchFiles = 2;
    twoBatches.batchTime = std::chrono::hours(1);
    engine::runTransfer(window, library, twoBatches, posix);
    ASSERT_EQ(window.log,
              "counter 0001 / 0000\ncounter 0002 / 0000\ncounter 0003 / 0000\nfinish\n");
    for (int i = 0; Song & s : songs) {
        Mp3Tag tag = libraryTag(i);
        if (i == 2) tag.artist = "カラオケ";
        EXPECT_TRUE(readMp3Tag(dir / s.moved) == tag) << s.moved;
        EXPECT_TRUE(audioOf(dir / s.moved) == silentAudio(3, 100u + static_cast<unsigned>(i++)));
        s.tagged = readFile(dir / s.moved);
    }
    // The texts went whole; only the ID3v1 tag cut the title, on a character
    // boundary: "0" and 14 characters fill 29 of its 30 bytes.
    const std::string id3v1 = readFile(dir / songs[0].moved);
    EXPECT_EQ(id3v1.substr(id3v1.size() - 125, 30),
              "0\x8D\xF7\x82\xCC\x89\xCC\x8D\xF7\x82\xCC\x89\xCC\x8D\xF7\x82\xCC\x89\xCC\x8D\xF7"
              "\x82\xCC\x89\xCC\x8D\xF7\x82\xCC" +
                  std::string(1, '\0'));
    // The in-place writes (into files that were there before), the rewrite, the
    // moves and a companion linked aside all took place.
    // The three files went as two batches: two flushes of the file system each
    // for the tags, one each for the pairs' records, one for the new journal,
    // and one at the end.
    int renames = 0, inPlace = 0, links = 0, flushes = 0, syncs = 0;
    for (size_t i = start; i < posix.ops.size(); ++i) {
        syncs += posix.ops[i].kind == Op::Sync || posix.ops[i].kind == Op::SyncFolder ? 1 : 0;
        renames += posix.ops[i].kind == Op::Rename ? 1 : 0;
        inPlace += posix.ops[i].kind == Op::Write && posix.ops[i].file < posix.existing ? 1 : 0;
        links += posix.ops[i].kind == Op::Link ? 1 : 0;
        flushes += posix.ops[i].kind == Op::SyncAll ? 1 : 0;
    }
    EXPECT_TRUE(renames >= 5 && inPlace >= 2 && links == 1 && flushes == 8)
        << renames << " renames, " << inPlace << " in place, " << links << " links, " << flushes
        << " flushes";
    // Besides, the sync of the second batch's journal (the first, new, took a
    // flush): none for a pair.
    EXPECT_EQ(syncs, 1);
    // Every crash is rebuilt where the run took place, as a pair record names the
    // work folder by its full path; the files the run left move aside.
    TempDir ran;
    fs::rename(nativePath(dir.path()), nativePath(ran / "tree"));

    for (size_t done = start; done <= posix.ops.size(); ++done) {
        for (Crash crash : {Crash::Kill, Crash::PowerLoss, Crash::TornWrite, Crash::LostRenames,
                            Crash::Reordered}) {
            SCOPED_TRACE(testing::Message() << "crash " << int(crash) << " after call "
                                            << done - start << " of " << posix.ops.size() - start);
            // The disk rebuilt, and cleaned up as the next run does.
            Disk disk = crashAfter(posix, done, crash);
            fs::remove_all(nativePath(dir.path()));
            RebuiltPosix rebuiltPosix;
            std::map<int, std::string> built;  // file -> its first name, which others link to
            for (const auto& [path, file] : disk.names) {
                if (const auto first = built.find(file); first != built.end()) {
                    ASSERT_EQ(
                        platform::systemPosix().link(first->second.c_str(), (dir / path).c_str()),
                        0);
                    continue;
                }
                writeFile(built[file] = dir / path, disk.content[file]);
                rebuiltPosix.recorded[inodeOf(dir / path)] =
                    posix.inodes[static_cast<size_t>(file)];
            }
            makeDirs(dir / "work");
            for (const std::string& path : treeOf(dir.path())) {
                const std::size_t name = path.rfind('/') + 1;  // 0 at the top
                if (!path.substr(name).starts_with('.')) continue;
                const std::string folder = dir / path.substr(0, name);
                EXPECT_EQ(engine::settleLeftover(rebuiltPosix, folder, path.substr(name)),
                          std::nullopt);
            }
            EXPECT_EQ(hiddenFiles(dir.path()), "");
            for (const Song& s : songs) {
                expectWhole(dir.path(), s);
                expectPairMatches(dir.path(), s);
            }
            // The next run finishes the job: no file is stranded in the work folder.
            // It needs no rebuilt inode numbers (no journal is left), and must
            // not see them: a file it creates may reuse the number of one removed.
            platform::Posix system;
            seam = &system;
            RecordingWindow next(dir / "lib", dir / "work", true);
            engine::runTransfer(next, library, {}, system);
            // (A file tagged again may hold its frames in another order.)
            for (const Song& s : songs)
                EXPECT_TRUE(!exists(dir / s.work) &&
                            readMp3Tag(dir / s.moved) == readMp3Tag(ran / ("tree/" + s.moved)) &&
                            audioOf(dir / s.moved) == audioOf(ran / ("tree/" + s.moved)) &&
                            (s.text.empty() || holds(dir / s.movedText, {s.text})))
                    << s.work << " is not where and as the run leaves it";
            EXPECT_EQ(hiddenFiles(dir.path()), "");
            if (testing::Test::HasFailure()) return;
        }
    }
}
