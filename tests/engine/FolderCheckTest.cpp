// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/FolderCheck.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <tuple>

#include "support/TempDir.h"

using namespace kestrom::engine;
using namespace kestrom::test;

// In the texts "~" stands for the temporary folder, which is also the current
// folder, for the relative ones.
TEST(FolderCheck, RefusesOverlappingOrMissingFolders) {
    TempDir dir;
    writeTree(dir.path(),
              "music/new/x: Music/x: mp3/x: mp3new/x: work/x: .hidden/x: lib*?/x: file.mp3:");
    ASSERT_EQ(::symlink((dir / "music/new").c_str(), (dir / "link").c_str()), 0);
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    const std::string overlap(kOverlapMessage), missing(kMissingFolderSuffix);
    for (auto [library, work, expected] :
         {std::tuple<std::string, std::string, std::string>{"~/music", "~/music/new", overlap},
          {"~/mp3", "~/mp3new", ""},  // siblings whose names share a beginning
          {"~/work", "~/work", overlap},
          {"", "~/work", overlap},
          {"~/Music", "~/music/new", ""},  // compared case-sensitively
          {"~/work", "./work/", overlap},  // relative
          {"~/music/../work", "~//work//", overlap},
          {"~/music", "~/link", overlap},               // a link into the library
          {"~/music", "~/mp3/../music/gone", overlap},  // folded by its text when it does not exist
          {"~/music/", "~/work", ""},
          {"~/lib*?", "~/work", ""},  // "*" and "?" are characters of the name
          {"~/music", "~/nothere", "~/nothere" + missing},
          {"~/nothere", "~/nowhere", "~/nothere" + missing},  // the library is checked first
          {"~/.hidden", "~/work", "~/.hidden" + missing},
          {"~/file.mp3", "~/work", "~/file.mp3" + missing},
          {"~/mus*", "~/work", "~/mus*" + missing}}) {
        for (std::string* text : {&library, &work, &expected})
            if (text->starts_with('~')) text->replace(0, 1, dir.path());
        kestrom::platform::Posix posix;
        kestrom::platform::DirLookup lookup(posix);
        EXPECT_EQ(checkFolders(library, work, lookup, posix).value_or(""), expected)
            << library << " " << work;
    }
    ASSERT_EQ(::chdir(cwd), 0);
}
