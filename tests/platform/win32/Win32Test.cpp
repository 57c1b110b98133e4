// SPDX-License-Identifier: GPL-3.0-or-later
// The Win32 side of the platform layer and the tag library's DLL, on a real
// (or wine's) file system. What wine does differently from Windows is skipped
// there, with the reason, never imitated.
#include <gtest/gtest.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <tuple>

#include "binding/Vbmp3.h"
#include "engine/FolderCheck.h"
#include "engine/Messages.h"
#include "platform/Cp932.h"
#include "platform/DirLookup.h"
#include "platform/FileError.h"
#include "platform/FileOps.h"
#include "platform/Posix.h"
#include "platform/ProgramFolder.h"
#include "platform/Texts.h"
#include "platform/win32/Win32.h"

namespace kestrom::platform {
namespace {

bool underWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// A new folder under the user's temporary folder, removed with what it holds.
class TempFolder {
public:
    TempFolder() {
        static int counter = 0;
        m_path = std::filesystem::temp_directory_path() /
                 ("kestrom-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                  std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path))
            ::SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }

    // The program's spelling of a path inside: UTF-8, "/" between names.
    std::string path(std::string_view name = {}) const {
        std::string text = win32::programPath(m_path.wstring());
        return name.empty() ? text : text + "/" + std::string(name);
    }
    std::filesystem::path native(std::u8string_view name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

void writeBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readBytes(Posix& posix, const std::string& path) {
    std::string content;
    EXPECT_EQ(readFile(posix, path, 1 << 20, content), 0) << path;
    return content;
}

// Twenty MPEG-1 layer III frames of silence, behind an ID3v2.3 tag of room
// bytes of padding when room is not 0.
std::string mp3(std::size_t room) {
    std::string file;
    if (room != 0) {
        file = std::string("ID3\x03\x00\x00", 6);
        for (int shift = 21; shift >= 0; shift -= 7)
            file += static_cast<char>((room >> shift) & 0x7F);
        file += std::string(room, '\0');
    }
    std::string frame("\xFF\xFB\x90\x00", 4);
    frame.resize(417, '\0');
    for (int i = 0; i < 20; ++i) file += frame;
    return file;
}

// --- Paths -------------------------------------------------------------------

using PathCase = std::tuple<const char*, const wchar_t*>;
class WidePath : public testing::TestWithParam<PathCase> {};

TEST_P(WidePath, MakesTheLongFormOfAnAbsolutePath) {
    EXPECT_EQ(win32::widePath(std::get<0>(GetParam())), std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, WidePath,
    testing::Values(PathCase{"C:/Music/a.mp3", LR"(\\?\C:\Music\a.mp3)"},
                    PathCase{"C:/Music/./x/../a.mp3", LR"(\\?\C:\Music\a.mp3)"},
                    PathCase{"C:", LR"(\\?\C:\)"},  // the last name taken off "C:/x"
                    PathCase{"C:/", LR"(\\?\C:\)"},
                    PathCase{"//server/share/曲.mp3", LR"(\\?\UNC\server\share\曲.mp3)"},
                    PathCase{"C:/\xff.mp3", L"\\\\?\\C:\\\xDCFF.mp3"}));  // no UTF-8: its escape

TEST(ProgramPath, GivesBackWhatWidePathMade) {
    for (const char* path : {"C:/Music/曲.mp3", "//server/share/a", "C:/", "D:/\xff"})
        EXPECT_EQ(win32::programPath(win32::widePath(path)), path);
}

// --- Errors ------------------------------------------------------------------

using ErrorCase = std::tuple<unsigned long, int>;
class Win32Error : public testing::TestWithParam<ErrorCase> {};

TEST_P(Win32Error, ReachesTheUserAsItsNumber) {
    const auto [error, number] = GetParam();
    EXPECT_EQ(fileErrorFromErrno(win32::errnoFromWin32(error)).number, number);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, Win32Error,
    testing::Values(ErrorCase{ERROR_FILE_NOT_FOUND, 53}, ErrorCase{ERROR_PATH_NOT_FOUND, 53},
                    ErrorCase{ERROR_ACCESS_DENIED, 70}, ErrorCase{ERROR_WRITE_PROTECT, 80},
                    ErrorCase{ERROR_SHARING_VIOLATION, 75}, ErrorCase{ERROR_DISK_FULL, 61},
                    ErrorCase{ERROR_HANDLE_DISK_FULL, 61}, ErrorCase{ERROR_NOT_READY, 71},
                    ErrorCase{ERROR_FILE_EXISTS, 58}, ErrorCase{ERROR_INVALID_NAME, 52},
                    ErrorCase{ERROR_CRC, 57}));

// --- The seam on a file system ----------------------------------------------

TEST(Win32Posix, OpenRefusesAsPosixDoes) {
    TempFolder folder;
    writeBytes(folder.native(u8"a.mp3"), "x");
    Posix& posix = systemPosix();
    struct Case {
        std::string path;
        int flags;
        int error;
    };
    for (const Case& c : {Case{folder.path("missing.mp3"), O_RDONLY, ENOENT},
                          Case{folder.path("a.mp3"), O_RDWR | O_CREAT | O_EXCL, EEXIST},
                          Case{folder.path("a.mp3"), O_RDONLY | O_DIRECTORY, ENOTDIR},
                          Case{folder.path(), O_RDWR, EISDIR}}) {
        errno = 0;
        EXPECT_EQ(posix.open(c.path.c_str(), c.flags, 0600), -1) << c.path;
        EXPECT_EQ(errno, c.error) << c.path;
    }
}

TEST(Win32Posix, OneFileHasOneIdentityWhateverTheNameOrCase) {
    TempFolder folder;
    writeBytes(folder.native(u8"Song.mp3"), "x");
    Posix& posix = systemPosix();
    ASSERT_EQ(posix.link(folder.path("Song.mp3").c_str(), folder.path("other.mp3").c_str()), 0);
    struct stat a {
    }, b{}, c{};
    ASSERT_EQ(posix.stat(folder.path("Song.mp3").c_str(), &a), 0);
    ASSERT_EQ(posix.stat(folder.path("SONG.MP3").c_str(), &b), 0);
    ASSERT_EQ(posix.stat(folder.path("other.mp3").c_str(), &c), 0);
    EXPECT_TRUE(S_ISREG(a.st_mode));
    EXPECT_EQ(a.st_nlink, 2u);
    for (const struct stat* st : {&b, &c}) {
        EXPECT_EQ(st->st_dev, a.st_dev);
        EXPECT_EQ(st->st_ino, a.st_ino);
    }
}

TEST(Win32Posix, ReadOnlyAttributeIsTheMissingWritePermission) {
    TempFolder folder;
    writeBytes(folder.native(u8"a.mp3"), "x");
    Posix& posix = systemPosix();
    const std::string path = folder.path("a.mp3");
    ASSERT_EQ(posix.chmod(path.c_str(), 0444), 0);
    struct stat st {};
    ASSERT_EQ(posix.stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IWUSR, 0u);
    EXPECT_NE(::GetFileAttributesW(folder.native(u8"a.mp3").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(posix.access(path.c_str(), W_OK), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(FileOps(posix).deleteFile(path)->number, 75);  // refused, as on Linux
    EXPECT_FALSE(FileOps(posix).setNormal(path).has_value());
    ASSERT_EQ(posix.stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

// As POSIX does, unlink removes a name of a read-only file; another hard link
// of the file keeps it, read-only.
TEST(Win32Posix, UnlinkRemovesANameOfAReadOnlyFileWhoseOtherNameStaysReadOnly) {
    TempFolder folder;
    writeBytes(folder.native(u8"a.mp3"), "x");
    Posix& posix = systemPosix();
    const std::string a = folder.path("a.mp3"), b = folder.path("b.mp3");
    ASSERT_EQ(posix.link(a.c_str(), b.c_str()), 0);
    ASSERT_EQ(posix.chmod(a.c_str(), 0444), 0);
    ASSERT_EQ(posix.unlink(b.c_str()), 0);
    struct stat st {};
    EXPECT_EQ(posix.lstat(b.c_str(), &st), -1);
    ASSERT_EQ(posix.stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IWUSR, 0u);
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(readBytes(posix, a), "x");
}

TEST(Win32Posix, RealpathGivesTheStoredSpellingWithSlashes) {
    TempFolder folder;
    std::filesystem::create_directory(folder.native(u8"曲 Folder"));
    std::string resolved;
    ASSERT_EQ(systemPosix().realpath((folder.path() + "/./曲 FOLDER").c_str(), resolved), 0);
    EXPECT_EQ(resolved, folder.path("曲 Folder"));
}

TEST(Win32DirLookup, FindsANameInAnyCaseAsStoredAndHidesHiddenAndSystemFiles) {
    TempFolder folder;
    for (const char8_t* name : {u8"Song.MP3", u8"hidden.mp3", u8"system.mp3", u8"曲.mp3"})
        writeBytes(folder.native(name), "x");
    ::SetFileAttributesW(folder.native(u8"hidden.mp3").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(folder.native(u8"system.mp3").c_str(), FILE_ATTRIBUTE_SYSTEM);
    DirLookup lookup(systemPosix());
    EXPECT_EQ(lookup.first(folder.path("song.mp3"), Filter::Plain), "Song.MP3");
    EXPECT_EQ(lookup.first(folder.path("hidden.mp3"), Filter::Plain), "");
    EXPECT_EQ(lookup.first(folder.path("system.mp3"), Filter::Plain), "");
    std::vector<std::string> all;
    for (std::string name = lookup.first(folder.path("*.mp3"), Filter::Plain); !name.empty();
         name = lookup.next())
        all.push_back(name);
    EXPECT_EQ(all, (std::vector<std::string>{"Song.MP3", "曲.mp3"}));
}

// A drive letter begins an absolute path: ".." never climbs above the drive,
// and a path on one drive is never taken as one under the current folder.
// Folders that do not exist are compared by their text; the message names the
// folder as Windows spells it.
TEST(Win32FolderCheck, DriveLettersBeginAbsolutePaths) {
    DirLookup lookup(systemPosix());
    const std::string overlap(engine::texts::kOverlap.ja);
    const std::string missing = format(engine::texts::kMissingFolder.ja, {"Q:\\a"});
    for (const auto& [library, work, message] :
         {std::tuple<std::string, std::string, std::string>{"Q:/a", "Q:/../a/b", overlap},
          {"Q:/x/../a", "Q:/a/./b", overlap},
          {"Q:/a", "Q:/ab", missing},
          {"Q:/a", "R:/a", missing},
          {"//server/share/a", "//server/share/../a/b", overlap}}) {
        EXPECT_EQ(engine::checkFolders(library, work, lookup, systemPosix()).value_or(""), message)
            << library << " " << work;
    }
}

TEST(Win32Posix, FileLockKeepsOutOtherLockersButNotReaders) {
    TempFolder folder;
    writeBytes(folder.native(u8"a.mp3"), "content");
    Posix& posix = systemPosix();
    const std::string path = folder.path("a.mp3");
    const Fd first(posix, posix.open(path.c_str(), O_RDWR, 0));
    const Fd second(posix, posix.open(path.c_str(), O_RDWR, 0));
    ASSERT_TRUE(first.valid() && second.valid());
    ASSERT_EQ(posix.flock(first.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(posix.flock(second.get(), LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(readBytes(posix, path), "content");
}

TEST(Win32Posix, FolderLockHoldsTheFolderWhateverItsSpelling) {
    TempFolder folder;
    std::filesystem::create_directory(folder.native(u8"Lib"));
    Posix& posix = systemPosix();
    const Fd first(posix, posix.open(folder.path("Lib").c_str(), O_RDONLY | O_DIRECTORY, 0));
    const Fd second(posix, posix.open(folder.path("LIB").c_str(), O_RDONLY | O_DIRECTORY, 0));
    ASSERT_TRUE(first.valid() && second.valid());
    ASSERT_EQ(posix.flock(first.get(), LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(posix.flock(second.get(), LOCK_SH | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
}

// The lock files of folders live in the user's local application data; the
// last holder of one takes it away, and a holder that stays keeps it.
TEST(Win32Posix, FolderLockFileGoesWithItsLastHolder) {
    TempFolder folder;
    std::filesystem::create_directory(folder.native(u8"Lib"));
    // The lock file is named after the folder's volume and file index.
    const HANDLE handle =
        ::CreateFileW(folder.native(u8"Lib").c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(::GetFileInformationByHandle(handle, &info));
    ::CloseHandle(handle);
    wchar_t name[64];
    ::swprintf(name, 64, L"%08lx-%08lx%08lx.lock", info.dwVolumeSerialNumber, info.nFileIndexHigh,
               info.nFileIndexLow);
    const std::filesystem::path lockFile =
        std::filesystem::path(_wgetenv(L"LOCALAPPDATA")) / L"Kestrom" / L"Locks" / name;
    const auto lockFileThere = [&] { return std::filesystem::exists(lockFile); };
    Posix& posix = systemPosix();
    const std::string lib = folder.path("Lib");
    std::optional<Fd> first(std::in_place, posix,
                            posix.open(lib.c_str(), O_RDONLY | O_DIRECTORY, 0));
    std::optional<Fd> second(std::in_place, posix,
                             posix.open(lib.c_str(), O_RDONLY | O_DIRECTORY, 0));
    ASSERT_EQ(posix.flock(first->get(), LOCK_SH | LOCK_NB), 0);
    ASSERT_EQ(posix.flock(second->get(), LOCK_SH | LOCK_NB), 0);
    EXPECT_TRUE(lockFileThere());
    first.reset();
    EXPECT_TRUE(lockFileThere());
    {
        const Fd third(posix, posix.open(lib.c_str(), O_RDONLY | O_DIRECTORY, 0));
        EXPECT_EQ(posix.flock(third.get(), LOCK_EX | LOCK_NB), -1);
        EXPECT_EQ(errno, EWOULDBLOCK);
    }
    second.reset();
    EXPECT_FALSE(lockFileThere());
    const Fd again(posix, posix.open(lib.c_str(), O_RDONLY | O_DIRECTORY, 0));
    EXPECT_EQ(posix.flock(again.get(), LOCK_EX | LOCK_NB), 0);
}

TEST(Win32Posix, RenameReplacesAClosedTarget) {
    TempFolder folder;
    writeBytes(folder.native(u8"new"), "new");
    writeBytes(folder.native(u8"old"), "old");
    Posix& posix = systemPosix();
    ASSERT_EQ(posix.rename(folder.path("new").c_str(), folder.path("old").c_str()), 0);
    EXPECT_EQ(readBytes(posix, folder.path("old")), "new");
}

TEST(Win32Posix, RenameReplacesAnOpenTargetWhoseHandleKeepsTheOldFile) {
    if (underWine())
        GTEST_SKIP() << "wine refuses to rename over an open file and lacks POSIX renames "
                        "(FileRenameInfoEx)";
    TempFolder folder;
    writeBytes(folder.native(u8"new"), "new");
    writeBytes(folder.native(u8"old"), "old");
    Posix& posix = systemPosix();
    const Fd open(posix, posix.open(folder.path("old").c_str(), O_RDONLY, 0));
    ASSERT_EQ(posix.rename(folder.path("new").c_str(), folder.path("old").c_str()), 0);
    EXPECT_EQ(readBytes(posix, folder.path("old")), "new");
    std::string kept;
    EXPECT_EQ(readAt(posix, open.get(), kept, 3, 0), 0);
    EXPECT_EQ(kept, "old");
}

// --- The tag library's DLL ----------------------------------------------------

// The tag as the program hands it over; the wave dash has no code page 932
// form of its own, so only the whole-text pair carries it exactly.
binding::TagInfo japaneseTag() {
    binding::TagInfo tag;
    tag.TextA = u"タイトル〜テスト";
    tag.TextB = u"アーティスト";
    tag.TextC = u"アルバム";
    tag.ShortText = u"2024";
    tag.TextD = u"コメント";
    tag.Number = 13;
    return tag;
}

TEST(Vbmp3Dll, WritesAndReadsAJapaneseTagInPlace) {
    TempFolder folder;
    writeBytes(folder.native(u8"曲.mp3"), mp3(4096));
    binding::Vbmp3 library(programFolder(systemPosix()) + "VBMP3.dll");
    binding::TagRecords records;
    records.tag = japaneseTag();
    const std::string path = folder.path("曲.mp3");
    ASSERT_EQ(library.setTagInfo(path, records).status, binding::CallStatus::Success);
    binding::TagRecords read;
    ASSERT_EQ(library.getFileInfo(path, read).status, binding::CallStatus::Success);
    EXPECT_EQ(read.tag.TextA, u"タイトル〜テスト");
    EXPECT_EQ(read.tag.TextB, u"アーティスト");
    EXPECT_EQ(read.tag.TextD, u"コメント");
    EXPECT_EQ(read.tag.Number, 13);
    // The audio stays where it was: the tag went into its room.
    const std::string bytes = readBytes(systemPosix(), path);
    EXPECT_EQ(bytes.size(), mp3(4096).size() + 128);  // and the ID3v1 tag at the end
}

// The batch's entry points are exported: two files tagged under one journal,
// which is gone once the batch is.
TEST(Vbmp3Dll, TagsABatchOfFilesUnderOneJournal) {
    TempFolder folder;
    binding::Vbmp3 library(programFolder(systemPosix()) + "VBMP3.dll");
    binding::TagRecords records;
    records.tag = japaneseTag();
    for (const char* name : {"一.mp3", "二.mp3"}) {
        writeBytes(folder.native(std::u8string(reinterpret_cast<const char8_t*>(name))), mp3(4096));
        ASSERT_EQ(library.stageTagInfo(folder.path(name), records).status,
                  binding::CallStatus::Success);
    }
    EXPECT_EQ(library.commitBatch(), (std::vector<int>{0, 0}));
    library.endBatch();
    for (const char* name : {"一.mp3", "二.mp3"}) {
        binding::TagRecords read;
        ASSERT_EQ(library.getFileInfo(folder.path(name), read).status,
                  binding::CallStatus::Success);
        EXPECT_EQ(read.tag.TextB, u"アーティスト") << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.native(u8".kestrom.journal")));
}

TEST(Vbmp3Dll, RewritesAFileWithoutRoom) {
    if (underWine())
        GTEST_SKIP() << "a rewrite renames over the file it holds open, which wine refuses";
    TempFolder folder;
    writeBytes(folder.native(u8"a.mp3"), mp3(0));
    binding::Vbmp3 library(programFolder(systemPosix()) + "VBMP3.dll");
    binding::TagRecords records;
    records.tag = japaneseTag();
    ASSERT_EQ(library.setTagInfo(folder.path("a.mp3"), records).status,
              binding::CallStatus::Success);
    binding::TagRecords read;
    ASSERT_EQ(library.getFileInfo(folder.path("a.mp3"), read).status, binding::CallStatus::Success);
    EXPECT_EQ(read.tag.TextA, u"タイトル〜テスト");
}

TEST(Vbmp3Dll, MissingLibraryIsNamed) {
    binding::Vbmp3 library("C:/no/such/folder/VBMP3.dll");
    binding::TagRecords records;
    const binding::CallResult result = library.getFileInfo("C:/a.mp3", records);
    EXPECT_EQ(result.status, binding::CallStatus::Unavailable);
    EXPECT_EQ(binding::describe(result.missing, japanese()),
              "見つかりません: C:\\no\\such\\folder\\VBMP3.dll");
}

}  // namespace
}  // namespace kestrom::platform
