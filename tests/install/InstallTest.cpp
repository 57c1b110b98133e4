// SPDX-License-Identifier: GPL-3.0-or-later
// The installation: this build installed with `cmake --install` into a temporary
// DESTDIR, which is then moved, as a relocated installation is, so that nothing
// can be found by the path it was installed to.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "support/Mp3Files.h"
#include "support/TempDir.h"

using namespace kestrom::test;
namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string output;  // standard output and standard error
};

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch = std::make_unique<TempDir>();
        const Result install = run("DESTDIR='" + *scratch / "staged" +
                                   "' '" CMAKE_COMMAND "' --install '" BUILD_DIR "'");
        ASSERT_EQ(install.status, 0) << install.output;
        fs::rename(*scratch / "staged", *scratch / "moved");
    }
    static void TearDownTestSuite() { scratch.reset(); }

    // Runs a shell command line; standard error joins standard output.
    static Result run(const std::string& command) {
        const std::string log = *scratch / "log";
        const int status = std::system((command + " >'" + log + "' 2>&1").c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(log)};
    }

    // A path under the moved installation's prefix.
    static std::string installed(const std::string& relative) {
        return *scratch / ("moved" INSTALL_PREFIX "/" + relative);
    }

    static inline std::unique_ptr<TempDir> scratch;
};

TEST_F(InstallTest, InstallsTheProgramsTheirLibraryAndDesktopFilesAndNothingElse) {
    std::vector<std::string> expected, found;
    std::istringstream list(readFile(INSTALLED_FILES));
    for (std::string line; std::getline(list, line);) expected.push_back(line);
    const fs::path prefix = installed("");
    for (const auto& entry : fs::recursive_directory_iterator(prefix))
        if (!entry.is_directory()) found.push_back(entry.path().lexically_relative(prefix));
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected);
}

// The installed kestrom-cli tags with the installed tag library: with that one
// removed it names it as missing instead of reaching for any other.
TEST_F(InstallTest, InstalledCliUsesTheInstalledTagLibrary) {
    TempDir dir;
    const Mp3Tag song{"桜の歌", "歌手の名前", "アルバム", "1999", "コメント", "Pop"};
    writeMp3(dir / "library/Pop/Song.mp3", silentAudio(4, 1), &song);
    writeMp3(dir / "work/Song.mp3", silentAudio(4, 2), nullptr);
    writeMp3(dir / "work/Song_K.mp3", silentAudio(4, 3), nullptr);
    const std::string cli =
        "'" + installed("bin/kestrom-cli") + "' '" + dir / "library" + "' '" + dir / "work" + "'";

    const Result tagged = run(cli);
    ASSERT_EQ(tagged.status, 0) << tagged.output;
    EXPECT_EQ(readMp3Tag(dir / "work/Song.mp3").title, song.title);
    EXPECT_EQ(readMp3Tag(dir / "work/Song_K.mp3").artist, "カラオケ");

    const std::string library = installed(PRIVATE_LIBDIR "/libvbmp3.so");
    fs::rename(library, library + ".away");
    const Result missing = run(cli);
    fs::rename(library + ".away", library);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.output.find("見つかりません: " + library), std::string::npos)
        << missing.output;
}

TEST_F(InstallTest, DesktopEntryAndMetadataPassTheirValidators) {
    for (const std::string& check :
         {"'" DESKTOP_FILE_VALIDATE "' '" + installed(DESKTOP_ENTRY) + "'",
          // The metadata with the desktop entry and icon it names.
          "'" APPSTREAMCLI "' validate-tree --no-net '" + *scratch / "moved" + "'"}) {
        const Result result = run(check);
        EXPECT_EQ(result.status, 0) << check << "\n" << result.output;
    }
}

}  // namespace
