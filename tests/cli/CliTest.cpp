// SPDX-License-Identifier: GPL-3.0-or-later
// kestrom-cli as a script sees it: a process with arguments, an exit status, two
// output streams and the files it leaves. The stand-in tag library's "MP3 files"
// are text files (see tests/binding/FakeTagLibrary.cpp): "A=title" lines, "FAIL"
// for an unreadable tag, "LOCKED" for one that cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <tuple>

#include <libintl.h>

#include <clocale>

#include "cli/Catalogue.h"
#include "cli/Cli.h"
#include "engine/Messages.h"
#include "platform/FileChange.h"
#include "platform/FileError.h"
#include "support/FaultyPosix.h"
#include "support/Fork.h"
#include "support/Mp3Files.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

using namespace kestrom::test;
namespace fs = std::filesystem;

namespace {

// The exit status, standard output and standard error (what showed on the
// terminal, when it ran on one).
using Result = std::tuple<int, std::string, std::string>;

class CliTest : public ::testing::Test {
protected:
    // The program goes into bin/ with the stand-in tag library beside it as
    // libvbmp3.so, where it looks for its tag library, and its message
    // catalogues in share/ beside bin/.
    void SetUp() override {
        makeDirs(dir / "bin");
        fs::copy_file(KESTROM_CLI, dir / "bin/kestrom-cli");
        fs::create_symlink(FAKE_TAG_LIBRARY, dir / "bin/libvbmp3.so");
        fs::create_symlink(BUILD_DATADIR, dir / "share");
    }

    // Runs the program in dir with args (shell words, which may redirect its
    // output elsewhere), with standard error on a terminal that script(1) makes
    // when asked.
    Result run(const std::string& args, bool terminal = false) {
        std::string command = "LC_ALL=" + locale + " LANGUAGE= bin/kestrom-cli >out " + args;
        command = terminal ? "script -qec '" + command + "' /dev/null >err" : command + " 2>err";
        const int status = std::system(("cd '" + dir.path() + "' && " + command).c_str());
        return {WEXITSTATUS(status), readFile(dir / "out"), readFile(dir / "err")};
    }

    TempDir dir;
    std::string locale = "ja_JP.UTF-8";  // the user's, under which the program runs
};

// Off a terminal a clean run prints nothing; on one, its progress line, which
// the terminal shows ending in "\r\n". A lone "-" names a folder.
TEST_F(CliTest, ExitsZeroWhenCleanAndOneWithTheFailedNamesOnStdout) {
    writeTree(dir.path(), "-/sub/Song.mp3:A=Song work/Song_K.mp3:");
    EXPECT_EQ(std::get<2>(run("- work", true)), "\r\x1b[K1/1  OK / NG 0001 / 0000\r\n");
    EXPECT_EQ(run("- work"), (Result{0, "", ""}));
    EXPECT_TRUE(readFile(dir / "work/Song_K.mp3").starts_with("A=Song\n"));

    // An unreadable tag and tags that cannot be written (one into a link to
    // nothing), each with the reason.
    writeTree(dir.path(),
              "-/Bad.mp3:FAIL -/Locked.mp3:A=x -/Full.mp3:A=x work/Locked.mp3:LOCKED "
              "work/Full.mp3:FULL work/Bad.mp3: work/Lost.mp3:");
    for (const char* name : {"new\nline.mp3", "\xFF\xFE.mp3"}) writeFile(dir / "work/" + name, "");
    fs::create_symlink("nowhere", dir / "work/Gone.mp3");  // a link to nothing
    EXPECT_EQ(run("- work"),
              (Result{1,
                      "Bad.mp3\nFull.mp3\nGone.mp3\nLocked.mp3\nLost.mp3\nnew\\x0Aline.mp3\n"
                      "\\xFF\\xFE.mp3\n",
                      "kestrom-cli: -/Bad.mp3:(83)タグがありません。\n"
                      "kestrom-cli: work/Full.mp3:(61)ディスクの空き容量が足りません。\n"
                      "kestrom-cli: work/Gone.mp3:(53)ファイルが見つかりません。\n"
                      "kestrom-cli: work/Locked.mp3:(70)書き込みできません。\n"}));
}

// SONG.mp3 and Song.mp3 both match lib/Song.mp3: the second may not replace the
// first. The run then does what the plan said, and a refused move fails it.
TEST_F(CliTest, DryRunPrintsThePlanAndChangesNothing) {
    writeTree(dir.path(),
              "lib/Song.mp3:A=Song lib/sub/Alpha.mp3:A=Alpha lib/Bad.mp3:FAIL "
              "work/Song.mp3:old work/SONG.mp3:old work/Alpha_K.mp3:old work/Bad.mp3:old "
              "work/Lost.mp3:old work/Song.txt:text work/Lost.txt:text");
    const auto contents = [&] { return treeText(dir / "lib") + treeText(dir / "work"); };
    const std::string before = contents();
    // The plan alone, with no error list after it and no doubled separator.
    EXPECT_EQ(run("--replace --dry-run lib/ work//"),
              (Result{1,
                      "Alpha_K.mp3\ttag+move\tlib/sub/Alpha.mp3\t\n"
                      "Bad.mp3\tunreadable-tag\tlib/Bad.mp3\t\n"
                      "Lost.mp3\tnot-found\t\tLost.txt\n"
                      "SONG.mp3\ttag+move\tlib/Song.mp3\tSong.txt\n"
                      "Song.mp3\ttag+clash\tlib/Song.mp3\tSong.txt\n",
                      "kestrom-cli: lib/Bad.mp3:(83)タグがありません。\n"}));
    EXPECT_TRUE(contents() == before) << "the dry run changed files";

    for (const char* failing : {"work/Bad.mp3", "work/Lost.mp3"}) fs::remove(dir / failing);
    EXPECT_EQ(run("--replace lib work"),  // fails only for the move it refuses
              (Result{1, "", "kestrom-cli: lib/Song.mp3:(58)ファイルは既に存在します。\n"}));
    EXPECT_EQ(readFile(dir / "work/Song.mp3").substr(0, 8), "A=Song\nB");
}

// A dry run's line for each outcome: always four fields separated by tabs, the
// name, the plan, the library file and the companion, empty where there is none.
struct PlanLine {
    const char *tree, *options, *line;
    const char* brokenLink = nullptr;  // a work file that is a link to nothing
};

class DryRunLine : public CliTest, public ::testing::WithParamInterface<PlanLine> {};

TEST_P(DryRunLine, HasFourTabSeparatedFields) {
    writeTree(dir.path(), GetParam().tree);
    if (GetParam().brokenLink != nullptr)
        fs::create_symlink("nowhere", dir / "work/" + GetParam().brokenLink);
    const std::string out =
        std::get<1>(run(std::string(GetParam().options) + " --dry-run lib work"));
    EXPECT_EQ(out, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    CliTest, DryRunLine,
    ::testing::Values(
        PlanLine{"lib/Song.mp3:A=x work/Song.mp3:", "", "Song.mp3\ttag\tlib/Song.mp3\t\n"},
        PlanLine{"lib/a/Song.mp3:A=x work/Song_K.mp3: work/Song.txt:", "--replace",
                 "Song_K.mp3\ttag+move\tlib/a/Song.mp3\tSong.txt\n"},
        PlanLine{"lib/x: work/Song.mp3: work/Song.txt:", "", "Song.mp3\tnot-found\t\tSong.txt\n"},
        PlanLine{"lib/Song.mp3:FAIL work/Song.mp3:", "",
                 "Song.mp3\tunreadable-tag\tlib/Song.mp3\t\n"},
        PlanLine{"lib/x: work/x:", "", "Song.mp3\twrite-refused\t\t\n", "Song.mp3"},
        PlanLine{"lib/Song.mp3:A=x work/SONG.mp3: work/Song.mp3:", "--replace",
                 "SONG.mp3\ttag+move\tlib/Song.mp3\t\nSong.mp3\ttag+clash\tlib/Song.mp3\t\n"}));

#ifdef TAG_LIBRARY
// With the tag library itself. The texts go whole, a title of 70 characters, a
// comment of kilobytes, characters outside code page 932: only the ID3v1 tag cuts
// them. A tag with a text over 64 KiB is not read. The dry run makes the checks
// of the run: what the run refuses to write is planned "write-refused", with the
// reason the run gives, and nothing changes, not even beside the journal of
// a run killed half-way through changing Song.mp3, which the run then rolls back.
TEST_F(CliTest, TextsGoWholeAndTheDryRunRefusesWhatTheRunRefuses) {
    fs::remove(dir / "bin/libvbmp3.so");
    fs::create_symlink(TAG_LIBRARY, dir / "bin/libvbmp3.so");
    std::string title = "a", comment;
    for (int i = 0; i < 23; ++i) title += "桜の歌";
    for (int i = 0; i < 200; ++i) comment += "♥ 한국어 Beyoncé 🎵 ";
    const Mp3Tag tag{title, "歌手", "", "2024", comment + "end", "Pop"},
        tooLong{"Long", "", "", "", std::string(65537, 'c'), ""}, old{"Old", "", "", "", "", ""};
    for (const char* name : {"Empty", "Locked", "Movie", "ReadOnly", "Song", "Wave"})
        writeMp3(dir / "lib/" + name + ".mp3", silentAudio(4), &tag);
    writeMp3(dir / "lib/Long.mp3", silentAudio(4), &tooLong);
    writeMp3(dir / "work/Song.mp3", silentAudio(4, 1), &old);
    writeTree(dir.path(), "work/Empty.mp3: !work/ReadOnly.mp3:" + silentAudio(4) +
                              " work/Locked.mp3:" + silentAudio(4) +
                              " work/Long.mp3:" + silentAudio(4) + " work/Folder.mp3/x:");
    writeFile(dir / "work/Movie.mp3", std::string("\0\0\0\x18"
                                                  "ftypM4A \0\0\0\0M4A mp42",
                                                  24));
    writeFile(dir / "work/Wave.mp3", std::string("RIFF\x24\x04\0\0WAVEfmt ", 16) +
                                         std::string(20, '\x01') + "data" +
                                         std::string(1028, '\0'));
    // X over the old title's first letter.
    ASSERT_NO_FATAL_FAILURE(
        changeKilledHalfWay({dir / "work/Song.mp3"}, {23, "X", "O"},
                            static_cast<off_t>(readFile(dir / "work/Song.mp3").size())));
    ASSERT_EQ(readMp3Tag(dir / "work/Song.mp3").title, "Xld");
    const int holder = ::open((dir / "work/Locked.mp3").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another run is writing it
    const auto contents = [&] { return treeText(dir / "lib") + treeText(dir / "work"); };
    const std::string before = contents();

    const std::string reasons =
        "kestrom-cli: work/Empty.mp3:(82)MPEG オーディオのファイルではありません。\n"
        "kestrom-cli: work/Locked.mp3:(55)別のプログラムがこのファイルに書き込み中です。\n"
        "kestrom-cli: lib/Long.mp3:(87)タグのテキストが長すぎます。\n"
        "kestrom-cli: work/Movie.mp3:(82)MPEG オーディオのファイルではありません。\n"
        "kestrom-cli: work/ReadOnly.mp3:(70)書き込みできません。\n"
        "kestrom-cli: work/Wave.mp3:(82)MPEG オーディオのファイルではありません。\n";
    EXPECT_EQ(run("--dry-run lib work"), (Result{1,
                                                 "Empty.mp3\twrite-refused\tlib/Empty.mp3\t\n"
                                                 "Locked.mp3\twrite-refused\tlib/Locked.mp3\t\n"
                                                 "Long.mp3\tunreadable-tag\tlib/Long.mp3\t\n"
                                                 "Movie.mp3\twrite-refused\tlib/Movie.mp3\t\n"
                                                 "ReadOnly.mp3\twrite-refused\tlib/ReadOnly.mp3\t\n"
                                                 "Song.mp3\ttag\tlib/Song.mp3\t\n"
                                                 "Wave.mp3\twrite-refused\tlib/Wave.mp3\t\n",
                                                 reasons}));
    EXPECT_TRUE(contents() == before) << "the dry run changed files";
    EXPECT_EQ(run("lib work"),
              (Result{1, "Empty.mp3\nLocked.mp3\nLong.mp3\nMovie.mp3\nReadOnly.mp3\nWave.mp3\n",
                      reasons}));
    ::close(holder);
    EXPECT_TRUE(readMp3Tag(dir / "work/Song.mp3") == tag);
    EXPECT_TRUE(audioOf(dir / "work/Song.mp3") == silentAudio(4, 1));
    EXPECT_EQ(hiddenFiles(dir / "work"), "");
}
#endif

// A run stopped with a message exits 2: also for a failure that nothing below
// handles (a message, not an abort) and for output that cannot be written.
TEST_F(CliTest, ARunThatStopsWithAMessageExitsTwo) {
    locale = "en_US.UTF-8";
    writeTree(dir.path(), "lib/Song.mp3:THROW work/Song.mp3:");
    const std::string full = "kestrom-cli: cannot write standard output: No space left on device\n";
    for (const auto& [args, err] : {std::pair<std::string, std::string>{
                                        "lib lib/x", "kestrom-cli: The two folders overlap.\n"},
                                    {"lib work", "kestrom-cli: std::bad_alloc\n"},
                                    {"--help >/dev/full", full},
                                    {"--version >/dev/full", full}})
        EXPECT_EQ(run(args), (Result{2, "", err})) << args;
}

// A library subfolder that a user cannot read is left out, and named on stderr
// with the reason.
TEST_F(CliTest, UnreadableLibraryFolderIsNamedWithTheReason) {
    writeTree(dir.path(), "lib/Song.mp3:A=Song lib/sub/Tune.mp3:A=Tune work/Tune.mp3:");
    ::chmod(dir.path().c_str(), 0777);  // the program writes its output files there
    ::chmod((dir / "lib/sub").c_str(), 0);
    const int status = runUnprivileged([&] { return std::get<0>(run("lib work")); });
    if (status == kCannotDropPrivileges) GTEST_SKIP() << "cannot run as an unprivileged user";
    EXPECT_EQ(Result(status, readFile(dir / "out"), readFile(dir / "err")),
              (Result{1, "Tune.mp3\n",
                      "kestrom-cli: lib/subのフォルダを読めません:"
                      "(75)パスまたはファイルにアクセスできません。\n"}));
}

// A run whose changes may not have reached the disk exits 1, and says why.
TEST_F(CliTest, AFailedSyncOfAFolderExitsOne) {
    writeTree(dir.path(), "lib/Song.mp3:A=Song work/Song.mp3:");
    FaultyPosix posix;
    posix.failAt(Call::FlushFiles, 1, EIO);  // the work folder's, at the end
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const std::string lib = dir / "lib", work = dir / "work";
    const int status =
        kestrom::cli::runCli({lib, work}, {out, err, false}, FAKE_TAG_LIBRARY, posix);
    std::string text(200, '\0');
    std::rewind(err);
    text.resize(std::fread(text.data(), 1, text.size(), err));
    std::fclose(out);
    std::fclose(err);
    EXPECT_EQ(status, 1);
    // In the process of the test, which has set no locale: in English.
    EXPECT_EQ(text, "kestrom-cli: Cannot write the changes in the folder " + work +
                        " to the disk:(57)Device I/O error.\n");
    EXPECT_TRUE(readFile(dir / "work/Song.mp3").starts_with("A=Song\n"));
}

TEST_F(CliTest, BadUsageExits64AndVersionPrints) {
    locale = "C.UTF-8";  // a locale without a catalogue: English
    for (const char* args : {"", "lib", "lib work more", "--bogus lib work"}) {
        const auto [status, out, err] = run(args);
        EXPECT_TRUE(status == 64 && err.find("\nUsage: kestrom-cli") != std::string::npos)
            << status << err;
    }
    for (const char* args : {"--version", "-V"})
        EXPECT_EQ(run(args), (Result{0, "Kestrom 1.10\n", ""}));
    EXPECT_TRUE(std::get<1>(run("-h")).starts_with("Usage: kestrom-cli"));
}

// Every kind of message under a Japanese and an English locale: the run's
// messages, the reasons of a file, the usage. Another language without a
// catalogue of its own (German here) shows English.
struct LocaleMessage {
    const char *tree, *args, *ja, *en;
    int status;
};

class LocaleMessages : public CliTest, public ::testing::WithParamInterface<LocaleMessage> {};

TEST_P(LocaleMessages, FollowTheLocale) {
    const LocaleMessage& m = GetParam();
    for (const auto& [name, expected] : {std::pair{"ja_JP.UTF-8", m.ja},
                                         {"en_US.UTF-8", m.en},
                                         {"de_DE.UTF-8", m.en},
                                         {"C", m.en}}) {
        locale = name;
        for (const char* folder : {"lib", "work"}) fs::remove_all(dir / folder);
        writeTree(dir.path(), m.tree);  // afresh: a run may move files
        const auto [status, out, err] = run(m.args);
        EXPECT_EQ(status, m.status) << name;
        EXPECT_EQ(err.substr(0, err.find("\n\n")), expected) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    CliTest, LocaleMessages,
    ::testing::Values(
        LocaleMessage{"lib/x: work/x:", "lib lib/sub",
                      "kestrom-cli: 指定パスの範囲が重複しています。\n",
                      "kestrom-cli: The two folders overlap.\n", 2},
        LocaleMessage{"lib/x:", "lib nothere", "kestrom-cli: nothereなんてフォルダはないよ\n",
                      "kestrom-cli: There is no folder nothere\n", 2},
        LocaleMessage{"lib/x: work/x:", "lib work", "kestrom-cli: データね～じゃん(-_-ﾒ)\n",
                      "kestrom-cli: The work folder holds no MP3 file.\n", 2},
        LocaleMessage{"lib/Song.mp3:FAIL work/Song.mp3:", "lib work",
                      "kestrom-cli: lib/Song.mp3:(83)タグがありません。\n",
                      "kestrom-cli: lib/Song.mp3:(83)The file has no tag.\n", 1},
        LocaleMessage{"lib/Song.mp3:A=x work/Song.mp3:LOCKED", "lib work",
                      "kestrom-cli: work/Song.mp3:(70)書き込みできません。\n",
                      "kestrom-cli: work/Song.mp3:(70)Permission denied.\n", 1},
        LocaleMessage{"lib/Song.mp3:A=x work/Song.mp3:FULL", "lib work",
                      "kestrom-cli: work/Song.mp3:(61)ディスクの空き容量が足りません。\n",
                      "kestrom-cli: work/Song.mp3:(61)Disk full.\n", 1},
        LocaleMessage{"lib/Song.mp3:A=x work/Song.mp3: work/SONG.mp3:", "--replace lib work",
                      "kestrom-cli: lib/Song.mp3:(58)ファイルは既に存在します。\n",
                      "kestrom-cli: lib/Song.mp3:(58)File already exists.\n", 1},
        LocaleMessage{"", "--bogus a b", "kestrom-cli: 不明なオプション --bogus",
                      "kestrom-cli: unknown option --bogus", 64},
        LocaleMessage{"", "a",
                      "kestrom-cli: 二つのフォルダ LIBRARY と WORK が必要ですが、引数が 1 個です",
                      "kestrom-cli: expected the two folders LIBRARY and WORK, got 1 argument", 64},
        LocaleMessage{"", "a b c",
                      "kestrom-cli: 二つのフォルダ LIBRARY と WORK が必要ですが、引数が 3 個です",
                      "kestrom-cli: expected the two folders LIBRARY and WORK, got 3 arguments",
                      64}));

// The catalogue gives every text of a run, and every reason of a failure, the
// Japanese that the program's own texts have.
TEST(Catalogue, HoldsTheJapaneseOfEveryText) {
    ASSERT_NE(std::setlocale(LC_ALL, "ja_JP.UTF-8"), nullptr) << "tools/deps generates the locale";
    ::bindtextdomain("kestrom-cli", BUILD_DATADIR "/locale");
    ::bind_textdomain_codeset("kestrom-cli", "UTF-8");
    std::vector<kestrom::platform::Text> texts = kestrom::engine::texts::all();
    for (const auto& [number, text] : kestrom::platform::fileErrorTexts()) texts.push_back(text);
    const kestrom::cli::CatalogueLanguage language;
    for (const kestrom::platform::Text& text : texts) EXPECT_EQ(language(text), text.ja);
    std::setlocale(LC_ALL, "C");
}

// --help in the user's language.
TEST_F(CliTest, HelpFollowsTheLocale) {
    EXPECT_TRUE(std::get<1>(run("--help")).starts_with("使い方: kestrom-cli [--replace]"));
    locale = "en_US.UTF-8";
    EXPECT_TRUE(std::get<1>(run("--help")).starts_with("Usage: kestrom-cli [--replace]"));
}

}  // namespace

// A work folder that takes no new files, where the files themselves could be
// written, fails every write alike: the folder is named once, with the reason,
// not the same reason for every file.
TEST_F(CliTest, AWorkFolderThatCannotBeWrittenIsNamedOnce) {
    fs::remove(dir / "bin/libvbmp3.so");
    fs::create_symlink(TAG_LIBRARY, dir / "bin/libvbmp3.so");
    const Mp3Tag tag{"題名", "", "", "", "", ""};
    for (const char* name : {"A", "B"}) {
        writeMp3(dir / "lib/" + name + ".mp3", silentAudio(4), &tag);
        writeMp3(dir / "work/" + name + ".mp3", silentAudio(4, 1), nullptr);
        ::chmod((dir / "work/" + name + ".mp3").c_str(), 0666);
    }
    ::chmod(dir.path().c_str(), 0777);  // the program writes its output files there
    ::chmod((dir / "work").c_str(), 0555);
    const int status = runUnprivileged([&] { return std::get<0>(run("lib work")); });
    ::chmod((dir / "work").c_str(), 0755);
    if (status == kCannotDropPrivileges) GTEST_SKIP() << "cannot run as an unprivileged user";
    EXPECT_EQ(
        Result(status, readFile(dir / "out"), readFile(dir / "err")),
        (Result{1, "A.mp3\nB.mp3\n",
                "kestrom-cli: workのフォルダに書き込めないため、このフォルダのファイルは処理で"
                "きません:(88)フォルダに書き込みできません。\n"}));
}
