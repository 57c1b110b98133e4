// SPDX-License-Identifier: GPL-3.0-or-later
// kestrom-cli as a script sees it: a process with arguments, an exit status, two
// output streams and the files it leaves. The stand-in tag library's "MP3 files"
// are text files (see tests/taglib/FakeTagLibrary.cpp).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "support/TempDir.h"

using namespace kestrom::test;
namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

// "B=カラオケ" (code page 932) and the blanks that fill the rest of the field.
const std::string kKaraokeLine = "B=\x83\x4A\x83\x89\x83\x49\x83\x50" + std::string(120, ' ');
const std::string kTagged = "A=Song\nB=\nC=\nS=\nD=\nE=\nN=0\n";

class CliTest : public ::testing::Test {
protected:
    void SetUp() override { install(FAKE_TAGLIB); }

    // Puts the program into bin/ with tagLibrary beside it as libvbmp3.so (none
    // when null), where it looks for its tag library.
    void install(const char* tagLibrary) {
        fs::remove_all(dir / "bin");
        makeDirs(dir / "bin");
        fs::copy_file(KESTROM_CLI, dir / "bin/kestrom-cli");
        if (tagLibrary != nullptr) fs::create_symlink(tagLibrary, dir / "bin/libvbmp3.so");
    }

    enum class Terminal { None, Err, Both };

    // Runs the program in dir. Standard error, or both streams, go to one
    // terminal when asked (what shows on it is in Result::err); standard output
    // goes to outPath when given.
    Result run(const std::vector<std::string>& args, Terminal terminal = Terminal::None,
               const char* outPath = nullptr) {
        const std::string program = dir / "bin/kestrom-cli";
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);

        const std::string outFile = outPath != nullptr ? outPath : dir / "stdout";
        const std::string errFile = dir / "stderr";
        int master = -1;
        int errFd = -1;
        if (terminal != Terminal::None) {
            master = ::posix_openpt(O_RDWR | O_NOCTTY);
            EXPECT_GE(master, 0);
            ::grantpt(master);
            ::unlockpt(master);
            errFd = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
            termios raw{};
            ::tcgetattr(errFd, &raw);
            ::cfmakeraw(&raw);  // what the program writes arrives unchanged
            ::tcsetattr(errFd, TCSANOW, &raw);
        } else {
            errFd = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        const int outFd = terminal == Terminal::Both
                              ? ::dup(errFd)
                              : ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.path().c_str()) != 0) ::_exit(126);
            ::dup2(outFd, STDOUT_FILENO);
            ::dup2(errFd, STDERR_FILENO);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(outFd);
        ::close(errFd);
        Result result;
        if (master >= 0) {
            // Ends with EIO once the program has exited and the terminal is closed.
            char buffer[4096];
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                result.err.append(buffer, static_cast<std::size_t>(n));
            ::close(master);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (master < 0) result.err = readFile(errFile);
        if (outPath == nullptr && terminal != Terminal::Both) result.out = readFile(outFile);
        return result;
    }

    // Every file and folder under lib/ and work/ with its content and time of
    // last change: a rewrite that leaves the same bytes still shows.
    std::map<std::string, std::pair<std::string, fs::file_time_type>> snapshot() const {
        std::map<std::string, std::pair<std::string, fs::file_time_type>> files;
        for (const char* top : {"lib", "work"}) {
            for (const auto& entry : fs::recursive_directory_iterator(dir / top)) {
                const std::string path = entry.path().string();
                files[path] = {entry.is_regular_file() ? readFile(path) : "(folder)",
                               entry.last_write_time()};
            }
        }
        return files;
    }

    // The folders without a trailing "/", which the run would keep in every path.
    std::string lib(std::string_view rel = "") const {
        return dir / (rel.empty() ? "lib" : "lib/" + std::string(rel));
    }
    std::string work(std::string_view rel = "") const {
        return dir / (rel.empty() ? "work" : "work/" + std::string(rel));
    }

    TempDir dir;
};

TEST_F(CliTest, TagsEveryFileQuietlyAndExitsZero) {
    writeFile(lib("Song.mp3"), "A=Song\n");
    writeFile(lib("sub/Zeta.mp3"), "A=Zeta\n");
    writeFile(work("Song.mp3"), "");
    writeFile(work("Zeta_K.mp3"), "");
    const Result r = run({lib(), work()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");  // not a terminal: no counter text
    EXPECT_EQ(readFile(work("Song.mp3")), kTagged);
    EXPECT_EQ(readFile(work("Zeta_K.mp3")), "A=Zeta\n" + kKaraokeLine + "\nC=\nS=\nD=\nE=\nN=0\n");
}

TEST_F(CliTest, FailedFilesAreListedOneALineInProcessingOrder) {
    writeFile(lib("Bad.mp3"), "FAIL\n");  // unreadable tag: NG, but not listed
    writeFile(lib("Locked.mp3"), "A=x\n");
    writeFile(lib("Good.mp3"), "A=Song\n");
    writeFile(work("Bad.mp3"), "");
    writeFile(work("Good.mp3"), "");
    writeFile(work("Locked_K.mp3"), "LOCKED\n");  // the tag cannot be written
    writeFile(work("Lost.mp3"), "");
    writeFile(work("new\nline.mp3"), "");
    writeFile(work("\xFF\xFE.mp3"), "");
    const Result r = run({lib(), work()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Locked_K.mp3\nLost.mp3\nnew\\x0Aline.mp3\n\\xFF\\xFE.mp3\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(work("Good.mp3")), kTagged);
}

TEST_F(CliTest, DryRunPrintsThePlanAndChangesNothing) {
    writeFile(lib("Song.mp3"), "A=Song\n");
    writeFile(lib("sub/Alpha.mp3"), "A=Alpha\n");
    writeFile(lib("Bad.mp3"), "FAIL\n");
    for (const char* name : {"Song.mp3", "Alpha_K.mp3", "Bad.mp3", "Lost.mp3"})
        writeFile(work(name), "old");
    for (const char* name : {"Song.txt", "Alpha.txt", "Lost.txt"}) writeFile(work(name), "text");
    const auto before = snapshot();

    const auto plan = [&](const std::string& tag) {
        return "Alpha_K.mp3\t" + tag + "\t" + lib("sub/Alpha.mp3") + "\tAlpha.txt\n" +  //
               "Bad.mp3\tunreadable-tag\t" + lib("Bad.mp3") + "\n" +                    //
               "Lost.mp3\tnot-found\t\tLost.txt\n" +                                    //
               "Song.mp3\t" + tag + "\t" + lib("Song.mp3") + "\tSong.txt\n";
    };
    const Result tagOnly = run({"--dry-run", lib(), work()});
    EXPECT_EQ(tagOnly.status, 1);
    EXPECT_EQ(tagOnly.out, plan("tag"));  // the plan alone: no error list after it
    EXPECT_EQ(tagOnly.err, "");
    const Result withMove = run({"--replace", "--dry-run", lib(), work()});
    EXPECT_EQ(withMove.status, 1);
    EXPECT_EQ(withMove.out, plan("tag+move"));
    EXPECT_EQ(snapshot(), before);
}

TEST_F(CliTest, ReplaceMovesTaggedFilesAndAFailedMoveFailsTheRun) {
    writeFile(lib("Song.mp3"), "A=Song\n");
    writeFile(lib("sub/Zeta.mp3"), "A=Zeta\n");
    makeDirs(lib("sub/Zeta_K.mp3"));  // a folder where the karaoke copy should go
    writeFile(work("Song.mp3"), "");
    writeFile(work("Song.txt"), "lyrics");
    writeFile(work("Zeta_K.mp3"), "");
    const Result r = run({lib(), work(), "--replace"});
    // The tag was written, so the engine counts the file OK; the job was not done.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with(lib("sub/Zeta.mp3") + ":(")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(readFile(lib("Song.mp3")), kTagged);
    EXPECT_EQ(readFile(lib("Song.txt")), "lyrics");
    EXPECT_FALSE(exists(work("Song.mp3")));
    EXPECT_FALSE(exists(work("Song.txt")));
    EXPECT_TRUE(exists(work("Zeta_K.mp3")));
}

TEST_F(CliTest, ARunThatStopsWithAMessageExitsTwo) {
    makeDirs(lib());
    makeDirs(work());
    const auto expectStop = [&](const std::vector<std::string>& args, const std::string& message) {
        const Result r = run(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, message + "\n");
        EXPECT_EQ(r.out, "");
    };
    expectStop({lib(), work()}, "データね～じゃん(-_-ﾒ)");
    expectStop({lib(), lib("x")}, "指定パスの範囲が重複しています。");
    expectStop({dir / "nolib", work()}, (dir / "nolib") + "なんてフォルダはないよ");

    writeFile(lib("Song.mp3"), "A=Song\n");
    writeFile(work("Song.mp3"), "before");
    install(FAKE_TAGLIB_NOWRITE);
    expectStop({lib(), work()}, "タグライブラリを使えません（見つかりません: vbmp3_setTagInfo）");
    // A dry run stops where the real run would, though it writes nothing.
    expectStop({"--dry-run", lib(), work()}, "タグライブラリを使えません（見つかりません: vbmp3_setTagInfo）");
    install(nullptr);
    expectStop({lib(), work()},
               "タグライブラリを使えません（見つかりません: " + (dir / "bin/libvbmp3.so") + "）");
    EXPECT_EQ(readFile(work("Song.mp3")), "before");
}

TEST_F(CliTest, ProgressLineIsRewrittenOnATerminalAndEndedBeforeAMessage) {
    writeFile(lib("Song.mp3"), "A=Song\n");
    writeFile(lib("sub/Zeta.mp3"), "A=Zeta\n");
    makeDirs(lib("sub/Zeta_K.mp3"));
    writeFile(work("Song.mp3"), "");
    writeFile(work("Zeta_K.mp3"), "");
    const Result r = run({"--replace", lib(), work()}, Terminal::Err);
    EXPECT_EQ(r.status, 1);
    // The first file's line, ended; the message on a line of its own; the last line, ended.
    const std::string first = "\r\x1b[K1/2  OK / NG 0001 / 0000\n" + lib("sub/Zeta.mp3") + ":(";
    ASSERT_TRUE(r.err.starts_with(first)) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find('\n', first.size())), "\n\r\x1b[K2/2  OK / NG 0002 / 0000\n")
        << r.err;
}

TEST_F(CliTest, DryRunPlanLinesStayAboveTheProgressLineOnOneTerminal) {
    writeFile(lib("Song.mp3"), "A=Song\n");
    writeFile(work("Lost.mp3"), "");
    writeFile(work("Song.mp3"), "");
    const Result r = run({"--dry-run", lib(), work()}, Terminal::Both);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Lost.mp3\tnot-found\t\n"
              "\r\x1b[K1/2  OK / NG 0000 / 0001"
              "\r\x1b[KSong.mp3\ttag\t" +
                  lib("Song.mp3") +
                  "\n"
                  "\r\x1b[K2/2  OK / NG 0001 / 0001\n");
}

TEST_F(CliTest, LostStandardOutputIsNotASuccess) {
    makeDirs(lib());
    writeFile(work("Lost.mp3"), "");
    const Result r = run({lib(), work()}, Terminal::None, "/dev/full");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("kestrom-cli: cannot write standard output")) << r.err;
}

TEST_F(CliTest, HelpVersionAndWhereOptionsMayStand) {
    const Result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: kestrom-cli [--replace] [--dry-run] LIBRARY WORK\n"));
    EXPECT_EQ(run({"--version", "--bogus"}).out, "Kestrom 1.10\n");

    // Relative folders whose names start with "-", after "--"; an option after them.
    writeFile(dir / "-lib/Song.mp3", "A=Song\n");
    writeFile(dir / "-work/Song.mp3", "");
    const Result r = run({"--dry-run", "--", "-lib", "-work"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Song.mp3\ttag\t-lib/Song.mp3\n");
    EXPECT_EQ(run({"-lib", "-work"}).status, 64);
    EXPECT_EQ(run({"./-lib", "./-work", "--dry-run"}).out, "Song.mp3\ttag\t./-lib/Song.mp3\n");
}

class BadUsageTest : public CliTest,
                     public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(BadUsageTest, PrintsTheUsageAndExits64) {
    const Result r = run(GetParam());
    EXPECT_EQ(r.status, 64);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("kestrom-cli: ")) << r.err;
    EXPECT_NE(r.err.find("\nUsage: kestrom-cli"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadUsageTest,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"lib"},
                      std::vector<std::string>{"lib", "work", "more"},
                      std::vector<std::string>{"--replace", "lib"},
                      std::vector<std::string>{"--bogus", "lib", "work"},
                      std::vector<std::string>{"-r", "lib", "work"},
                      std::vector<std::string>{"--replace=yes", "lib", "work"}));

}  // namespace
