// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FolderCheck.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;

namespace {

struct Case {
    const char* library;
    const char* work;
    const char* expected;  // "" when both pass; a leading "~" stands for the temporary folder
};

class FolderCheckTest : public ::testing::TestWithParam<Case> {
protected:
    // The current folder is the temporary folder, for the relative texts.
    void SetUp() override {
        for (const char* folder :
             {"music/new", "Music", "mp3", "mp3new", "work", ".hidden", "lib*?"})
            makeDirs(dir / folder);
        writeFile(dir / "file.mp3");
        ASSERT_EQ(::symlink((dir / "music/new").c_str(), (dir / "link").c_str()), 0);
        ASSERT_NE(::getcwd(m_cwd, sizeof m_cwd), nullptr);
        ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(::chdir(m_cwd), 0); }
    std::string expand(std::string_view text) const {
        return text.starts_with('~') ? dir.path() + std::string(text.substr(1)) : std::string(text);
    }
    TempDir dir;
    char m_cwd[4096] = {};
};

}  // namespace

TEST_P(FolderCheckTest, RefusesOverlappingOrMissingFolders) {
    const Case& c = GetParam();
    kestrom::platform::Posix posix;
    kestrom::platform::DirLookup lookup(posix);
    const auto message = checkFolders(expand(c.library), expand(c.work), lookup, posix);
    EXPECT_EQ(message.value_or(""), expand(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderCheckTest,
    ::testing::Values(
        Case{"~/music", "~/music/new", "指定パスの範囲が重複しています。"},
        Case{"~/mp3", "~/mp3new", ""},  // siblings whose names share a beginning
        Case{"~/work", "~/work", "指定パスの範囲が重複しています。"},
        Case{"", "~/work", "指定パスの範囲が重複しています。"},
        Case{"~/Music", "~/music/new", ""},                             // compared case-sensitively
        Case{"~/work", "./work/", "指定パスの範囲が重複しています。"},  // relative
        Case{"~/music/../work", "~//work//", "指定パスの範囲が重複しています。"},
        Case{"~/music", "~/link", "指定パスの範囲が重複しています。"},  // a link into the library
        Case{"~/music", "~/mp3/../music/gone",
             "指定パスの範囲が重複しています。"},  // folded by its text when it does not exist
        Case{"~/music/", "~/work", ""},
        Case{"~/lib*?", "~/work", ""},  // "*" and "?" are characters of the name
        Case{"~/music", "~/nothere", "~/nothereなんてフォルダはないよ"},
        Case{"~/nothere", "~/nowhere",
             "~/nothereなんてフォルダはないよ"},  // the library is checked first
        Case{"~/.hidden", "~/work", "~/.hiddenなんてフォルダはないよ"},
        Case{"~/file.mp3", "~/work", "~/file.mp3なんてフォルダはないよ"},
        Case{"~/mus*", "~/work", "~/mus*なんてフォルダはないよ"}),
    [](const ::testing::TestParamInfo<Case>& param) {
        return "Case" + std::to_string(param.index);
    });
