// SPDX-License-Identifier: GPL-3.0-or-later
// The installation: this build installed with `cmake --install` into a temporary
// DESTDIR, which is then moved, as a relocated installation is, so that nothing
// can be found by the path it was installed to.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "support/Mp3Files.h"
#include "support/TempDir.h"

using namespace kestrom::test;
namespace fs = std::filesystem;

namespace {

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch = std::make_unique<TempDir>();
        const std::string staged = *scratch / "staged";
        ASSERT_EQ(run("DESTDIR='" + staged + "' '" CMAKE_COMMAND "' --install '" BUILD_DIR "'"), 0)
            << log();
        fs::rename(*scratch / "staged", *scratch / "moved");
    }
    static void TearDownTestSuite() { scratch.reset(); }

    // Runs a shell command line; its standard output and error go to the file "log".
    static int run(const std::string& command) {
        const int status = std::system((command + " >'" + *scratch / "log" + "' 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string log() { return readFile(*scratch / "log"); }
    // A path under the moved installation's prefix.
    static std::string installed(const std::string& relative) {
        return *scratch / ("moved" INSTALL_PREFIX "/" + relative);
    }
    static inline std::unique_ptr<TempDir> scratch;
};

// The list of installed files is in byte order, as treeOf gives it.
TEST_F(InstallTest, InstallsTheProgramsTheirLibraryAndDesktopFilesAndNothingElse) {
    std::string found;
    for (const std::string& path : treeOf(installed("")))
        if (!fs::is_directory(installed(path))) found += path + "\n";
    EXPECT_EQ(found, readFile(INSTALLED_FILES));
}

// The installed kestrom-cli tags with the installed tag library: with that one
// removed it names it as missing instead of reaching for any other.
TEST_F(InstallTest, InstalledCliUsesTheInstalledTagLibrary) {
    TempDir dir;
    const Mp3Tag song{"桜の歌", "歌手の名前", "アルバム", "1999", "コメント", "Pop"};
    writeMp3(dir / "library/Pop/Song.mp3", silentAudio(4, 1), &song);
    writeMp3(dir / "work/Song.mp3", silentAudio(4, 2), nullptr);
    writeMp3(dir / "work/Song_K.mp3", silentAudio(4, 3), nullptr);
    // Under a Japanese locale, the messages from the installed catalogue.
    const std::string cli = "LC_ALL=ja_JP.UTF-8 LANGUAGE= '" + installed("bin/kestrom-cli") +
                            "' '" + dir / "library" + "' '" + dir / "work" + "'";
    ASSERT_EQ(run(cli), 0) << log();
    EXPECT_EQ(readMp3Tag(dir / "work/Song.mp3").title, song.title);
    EXPECT_EQ(readMp3Tag(dir / "work/Song_K.mp3").artist, "カラオケ");

    const std::string library = installed(PRIVATE_LIBDIR "/libvbmp3.so");
    fs::rename(library, library + ".away");
    EXPECT_EQ(run(cli), 2);
    fs::rename(library + ".away", library);
    EXPECT_NE(log().find("見つかりません: " + library), std::string::npos) << log();
}

// The metadata is checked with the desktop entry and icon it names.
TEST_F(InstallTest, DesktopEntryAndMetadataPassTheirValidators) {
    EXPECT_EQ(run("'" DESKTOP_FILE_VALIDATE "' '" + installed(DESKTOP_ENTRY) + "'"), 0) << log();
    EXPECT_EQ(run("'" APPSTREAMCLI "' validate-tree --no-net '" + *scratch / "moved" + "'"), 0)
        << log();
}

}  // namespace
