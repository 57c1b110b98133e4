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
    void SetUp() override {
        makeDirs(dir / "music/new");
        makeDirs(dir / "Music");
        makeDirs(dir / "mp3");
        makeDirs(dir / "mp3new");
        makeDirs(dir / "work");
        makeDirs(dir / ".hidden");
        writeFile(dir / "file.mp3");
    }
    std::string expand(std::string_view text) const {
        return text.starts_with('~') ? dir.path() + std::string(text.substr(1)) : std::string(text);
    }
    TempDir dir;
};

}  // namespace

TEST_P(FolderCheckTest, RefusesOverlappingOrMissingFolders) {
    const Case& c = GetParam();
    kestrom::platform::DirLookup lookup;
    const auto message = checkFolders(expand(c.library), expand(c.work), lookup);
    EXPECT_EQ(message.value_or(""), expand(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FolderCheckTest,
    ::testing::Values(
        Case{"~/music", "~/music/new", "指定パスの範囲が重複しています。"},
        Case{"~/mp3", "~/mp3new", "指定パスの範囲が重複しています。"},  // characters, not folders
        Case{"~/work", "~/work", "指定パスの範囲が重複しています。"},
        Case{"", "~/work", "指定パスの範囲が重複しています。"},
        Case{"~/Music", "~/music/new", ""},  // compared case-sensitively
        Case{"~/music/", "~/work", ""},      // a trailing separator lists the folder itself
        Case{"~/music", "~/nothere", "~/nothereなんてフォルダはないよ"},
        Case{"~/nothere", "~/nowhere",
             "~/nothereなんてフォルダはないよ"},  // the library is checked first
        Case{"~/.hidden", "~/work", "~/.hiddenなんてフォルダはないよ"},
        Case{"~/file.mp3", "~/work", "~/file.mp3なんてフォルダはないよ"},
        Case{"~/mus*", "~/work", "~/mus*なんてフォルダはないよ"}),
    [](const ::testing::TestParamInfo<Case>& param) {
        return "Case" + std::to_string(param.index);
    });
