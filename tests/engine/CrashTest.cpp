// SPDX-License-Identifier: GPL-3.0-or-later
// A run is recorded call by call at the platform's seam. Then, for every moment
// between two calls, the files are rebuilt as a crash at that moment leaves
// them: as a killed process leaves them (every call before it done), and as a
// power loss may (writes that were not synced lost, or cut short; renames and
// removals after the last sync of a folder lost). The clean-up that the next
// run makes must then leave every file whole: its audio unchanged, its tag old
// or new, in at least one place, and nothing of the program's hidden files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <variant>

#include "RecordingWindow.h"
#include "engine/Run.h"
#include "platform/FileChange.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "vbmp3/Entry.h"

using namespace kestrom;
using namespace kestrom::test;
namespace fs = std::filesystem;

namespace {

// The recorded calls that change files. Paths are relative to the tree's root;
// a file is known by a number of its own, as the system reuses inode numbers.
struct Create {
    std::string path;
    int file;
};
struct Write {
    int file;
    off_t offset;
    std::string bytes;
};
struct Truncate {
    int file;
    off_t length;
};
struct Sync {
    int file;
    bool folder;
};
struct Rename {
    std::string from, to;
};
struct Unlink {
    std::string path;
};
using Op = std::variant<Create, Write, Truncate, Sync, Rename, Unlink>;

// The files as a crash leaves them.
struct Disk {
    std::map<std::string, int> names;
    std::map<int, std::string> content;
    std::map<int, ino_t> inodes;  // the inode number each file had
};

// The real system calls, with every change recorded in order.
class RecordingPosix : public platform::Posix {
public:
    RecordingPosix(std::string root, const Disk& before) : m_root(std::move(root) + "/") {
        for (const auto& [file, inode] : before.inodes) m_files[inode] = file;
        m_next = static_cast<int>(before.inodes.size());
        inodes = before.inodes;
    }
    std::vector<Op> ops;
    std::map<int, ino_t> inodes;

    int open(const char* path, int flags, mode_t mode) override {
        const int fd = Posix::open(path, flags, mode);
        if (fd >= 0) {
            const ino_t inode = inodeOf(fd);
            if ((flags & O_CREAT) != 0 || !m_files.contains(inode)) {
                m_files[inode] = m_next++;
                inodes[m_files[inode]] = inode;
                if ((flags & O_CREAT) != 0) ops.push_back(Create{relative(path), m_files[inode]});
            }
            m_open[fd] = m_files[inode];
        }
        return fd;
    }
    ssize_t pwrite(int fd, const void* b, size_t n, off_t offset) override {
        const ssize_t done = Posix::pwrite(fd, b, n, offset);
        if (done > 0)
            ops.push_back(
                Write{m_open.at(fd), offset,
                      std::string(static_cast<const char*>(b), static_cast<size_t>(done))});
        return done;
    }
    ssize_t write(int, const void*, size_t) override {
        ADD_FAILURE() << "write() is not recorded";
        return -1;
    }
    ssize_t copyFileRange(int in, off_t* inOffset, int out, off_t* outOffset, size_t n) override {
        const off_t from = *inOffset;
        const off_t to = *outOffset;
        const ssize_t done = Posix::copyFileRange(in, inOffset, out, outOffset, n);
        if (done > 0) {
            std::string bytes(static_cast<size_t>(done), '\0');
            Posix::pread(in, bytes.data(), bytes.size(), from);
            ops.push_back(Write{m_open.at(out), to, bytes});
        }
        return done;
    }
    int ftruncate(int fd, off_t length) override {
        const int result = Posix::ftruncate(fd, length);
        if (result == 0) ops.push_back(Truncate{m_open.at(fd), length});
        return result;
    }
    int fsync(int fd) override {
        const int result = Posix::fsync(fd);
        struct stat st {};
        Posix::fstat(fd, &st);
        if (result == 0) ops.push_back(Sync{m_open.at(fd), S_ISDIR(st.st_mode)});
        return result;
    }
    int rename(const char* from, const char* to) override {
        const int result = Posix::rename(from, to);
        if (result == 0) ops.push_back(Rename{relative(from), relative(to)});
        return result;
    }
    int unlink(const char* path) override {
        const int result = Posix::unlink(path);
        if (result == 0) ops.push_back(Unlink{relative(path)});
        return result;
    }

private:
    ino_t inodeOf(int fd) {
        struct stat st {};
        Posix::fstat(fd, &st);
        return st.st_ino;
    }
    std::string relative(const std::string& path) const {
        EXPECT_TRUE(path.starts_with(m_root)) << path;
        return fs::path(path.substr(m_root.size())).lexically_normal().string();
    }
    std::string m_root;
    std::map<ino_t, int> m_files;  // inode -> the file that has it now
    std::map<int, int> m_open;     // descriptor -> file
    int m_next = 0;
};

// The real system calls over a rebuilt tree, which shows every file under the
// inode number it had when the calls were recorded: the undo records name and
// hold those numbers.
class RebuiltPosix : public platform::Posix {
public:
    std::map<ino_t, ino_t> recorded;  // rebuilt inode -> recorded inode

    int fstat(int fd, struct stat* st) override { return translate(Posix::fstat(fd, st), st); }
    int stat(const char* p, struct stat* st) override { return translate(Posix::stat(p, st), st); }
    int lstat(const char* p, struct stat* st) override {
        return translate(Posix::lstat(p, st), st);
    }

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

void applyName(Disk& disk, const Op& op) {
    if (const auto* c = std::get_if<Create>(&op)) disk.names[c->path] = c->file;
    if (const auto* r = std::get_if<Rename>(&op)) {
        disk.names[r->to] = disk.names.at(r->from);
        disk.names.erase(r->from);
    }
    if (const auto* u = std::get_if<Unlink>(&op)) disk.names.erase(u->path);
}

void applyData(std::map<int, std::string>& content, const Op& op, bool torn = false) {
    if (const auto* w = std::get_if<Write>(&op)) {
        std::string& data = content[w->file];
        const std::string bytes = torn ? w->bytes.substr(0, w->bytes.size() / 2) : w->bytes;
        const auto end = static_cast<size_t>(w->offset) + bytes.size();
        if (data.size() < end) data.resize(end, '\0');
        data.replace(static_cast<size_t>(w->offset), bytes.size(), bytes);
    }
    if (const auto* t = std::get_if<Truncate>(&op))
        content[t->file].resize(static_cast<size_t>(t->length));
}

// The disk after the first `done` calls, as the crash leaves it.
Disk crashAfter(const Disk& before, const std::vector<Op>& ops, size_t done, Crash crash) {
    Disk disk = before;
    std::map<int, std::string> written = before.content;  // what the process wrote
    size_t lastFolderSync = 0;
    std::map<int, size_t> lastSync;
    for (size_t i = 0; i < done; ++i) {
        applyData(written, ops[i]);
        if (const auto* s = std::get_if<Sync>(&ops[i])) {
            if (s->folder) lastFolderSync = i + 1;
            lastSync[s->file] = i + 1;
            if (!s->folder) disk.content[s->file] = written[s->file];
        }
        if (const auto* c = std::get_if<Create>(&ops[i])) {
            disk.content[c->file];
            written[c->file];
        }
    }
    const bool renamesLost = crash == Crash::LostRenames || crash == Crash::Reordered;
    for (size_t i = 0; i < (renamesLost ? lastFolderSync : done); ++i) applyName(disk, ops[i]);
    if (crash == Crash::Kill) {
        disk.content = written;
    } else if (crash == Crash::Reordered) {
        for (const auto& [file, bytes] : before.content) disk.content[file] = written[file];
    } else if (crash == Crash::TornWrite) {
        // The last write that was not synced reached the disk half-way.
        for (size_t i = done; i-- > 0;) {
            const auto* w = std::get_if<Write>(&ops[i]);
            if (w == nullptr) continue;
            if (lastSync[w->file] <= i) applyData(disk.content, ops[i], true);
            break;
        }
    }
    return disk;
}

std::string title(int i, bool tagged) {
    return (tagged ? "Library " : "Work ") + std::to_string(i);
}

class CrashTest : public testing::Test {
protected:
    // Song0: a padded tag, written in place; Song1: untagged, rewritten; Song2_K:
    // a karaoke copy written in place; Song0 and Song2 have companions.
    void makeTree() {
        for (int i = 0; i < 3; ++i) {
            const Mp3Tag libTag{title(i, true), "Artist", "", "2001", "", ""};
            writeMp3(dir / libName(i), silentAudio(3, static_cast<unsigned>(i)), &libTag);
            const Mp3Tag workTag{title(i, false), "Old", "", "", "", ""};
            writeMp3(dir / workName(i), silentAudio(3, 100u + static_cast<unsigned>(i)),
                     i == 1 ? nullptr : &workTag);
        }
        writeFile(dir / "work/Song0.txt", "text 0");
        writeFile(dir / "work/Song2.txt", "text 2");
    }
    static std::string libName(int i) {
        return "lib/F" + std::to_string(i % 2) + "/Song" + std::to_string(i) + ".mp3";
    }
    static std::string workName(int i) {
        return "work/Song" + std::to_string(i) + (i == 2 ? "_K.mp3" : ".mp3");
    }

    Disk snapshot() const {
        Disk disk;
        for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
            if (!e.is_regular_file()) continue;
            struct stat st {};
            ::stat(e.path().c_str(), &st);
            const std::string path = e.path().lexically_relative(dir.path()).string();
            const int file = static_cast<int>(disk.inodes.size());
            disk.names[path] = file;
            disk.inodes[file] = st.st_ino;
            disk.content[file] = readFile(e.path());
        }
        return disk;
    }

    // Writes the disk into a fresh folder, cleans up as the next run does, and
    // checks every file.
    void recoverAndCheck(const Disk& disk) {
        TempDir rebuilt;
        RebuiltPosix posix;
        for (const auto& [path, file] : disk.names) {
            writeFile(rebuilt / path, disk.content.at(file));
            struct stat st {};
            ::stat((rebuilt / path).c_str(), &st);
            posix.recorded[st.st_ino] = disk.inodes.at(file);
        }
        makeDirs(rebuilt / "work");
        std::vector<fs::path> leftovers;
        for (const auto& e : fs::recursive_directory_iterator(rebuilt.path())) {
            const std::string name = e.path().filename();
            if (platform::isTemporaryName(name) || platform::isUndoRecordName(name))
                leftovers.push_back(e.path());
        }
        for (const fs::path& leftover : leftovers)
            EXPECT_EQ(platform::cleanUpLeftover(posix, leftover.parent_path().string() + "/",
                                                leftover.filename()),
                      0);
        for (const auto& e : fs::recursive_directory_iterator(rebuilt.path()))
            EXPECT_FALSE(e.path().filename().string().starts_with('.')) << e.path() << " stays";

        // A file is either as it was or as the run left it, byte for byte.
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE("song " + std::to_string(i));
            const std::string folder = "lib/F" + std::to_string(i % 2) + "/";
            const std::string lib = rebuilt / (folder + "Song" + std::to_string(i) + ".mp3");
            const std::string work = rebuilt / workName(i);
            const std::string moved = i == 2 ? rebuilt / (folder + "Song2_K.mp3") : lib;
            const auto isWorkFile = [&](const std::string& path) {
                const std::string now = readFile(path);
                return now == workBefore[i] || now == workAfter[i];
            };
            EXPECT_TRUE(!exists(work) || isWorkFile(work)) << "the work file is damaged";
            EXPECT_TRUE(readFile(lib) == libBefore[i] || (i != 2 && isWorkFile(lib)))
                << "the library file is damaged";
            EXPECT_TRUE(!exists(moved) || moved == lib || isWorkFile(moved));
            EXPECT_TRUE(exists(work) || (exists(moved) && isWorkFile(moved)))
                << "the work file is lost";
            if (i != 1) {
                const std::string text = "Song" + std::to_string(i) + (i == 2 ? "_K.txt" : ".txt");
                const std::string wanted = "text " + std::to_string(i);
                const bool inWork = exists(rebuilt / ("work/Song" + std::to_string(i) + ".txt"));
                const bool inLib = exists(rebuilt / (folder + text));
                EXPECT_TRUE(inWork || inLib) << "the companion is lost";
                EXPECT_TRUE(!inLib || readFile(rebuilt / (folder + text)) == wanted);
            }
        }
    }

    // Each song's work file before and after the run, and its library file before.
    std::string workBefore[3], workAfter[3], libBefore[3];
    TempDir dir;
};

RecordingPosix* recording = nullptr;

std::int16_t recordedGet(const char* path, unsigned char* tag, unsigned char* mpeg) {
    return vbmp3::getFileInfo(*recording, path, tag, mpeg);
}
std::int16_t recordedSet(const char* path, unsigned char* tag, std::int32_t a, std::int32_t b) {
    return vbmp3::setTagInfo(*recording, path, tag, a, b);
}

}  // namespace

TEST_F(CrashTest, EveryCrashLeavesEveryFileWholeAfterTheCleanUp) {
    makeTree();
    const Disk before = snapshot();
    for (int i = 0; i < 3; ++i) {
        workBefore[i] = readFile(dir / workName(i));
        libBefore[i] = readFile(dir / libName(i));
    }
    RecordingPosix posix(dir.path(), before);
    recording = &posix;
    taglib::Vbmp3 library(recordedGet, recordedSet);
    RecordingWindow window(dir / "lib", dir / "work", true);
    const engine::RunSummary summary = engine::runTransfer(window, library, {}, posix);
    ASSERT_EQ(summary.OkCount, 3);
    ASSERT_TRUE(window.messages().empty());
    for (int i = 0; i < 3; ++i)
        workAfter[i] = readFile(dir / (i == 2 ? "lib/F0/Song2_K.mp3" : libName(i)));
    const std::vector<Op> ops = posix.ops;
    Disk start = before;
    start.inodes = posix.inodes;
    // The in-place writes, the rewrite and the moves all took place.
    EXPECT_GE(std::count_if(ops.begin(), ops.end(),
                            [](const Op& op) { return std::holds_alternative<Rename>(op); }),
              5);

    for (size_t done = 0; done <= ops.size(); ++done) {
        for (Crash crash : {Crash::Kill, Crash::PowerLoss, Crash::TornWrite, Crash::LostRenames,
                            Crash::Reordered}) {
            SCOPED_TRACE("crash " + std::to_string(static_cast<int>(crash)) + " after call " +
                         std::to_string(done) + " of " + std::to_string(ops.size()));
            recoverAndCheck(crashAfter(start, ops, done, crash));
            if (HasFailure()) return;
        }
    }
}
