// SPDX-License-Identifier: GPL-3.0-or-later
// The catalogue reader kestrom-cli uses where the system has no gettext, read
// against gettext itself over the catalogue the build makes.
#include "cli/MoFile.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <libintl.h>
#endif

#include <clocale>
#include <functional>
#include <vector>

#include "cli/CommandLine.h"
#include "engine/Messages.h"
#include "platform/FileError.h"
#include "platform/FileOps.h"
#include "support/FaultyPosix.h"
#include "support/TempDir.h"

using namespace kestrom;
using kestrom::cli::MoFile;

namespace {

const std::string kCatalogue = BUILD_DATADIR "/locale/ja/LC_MESSAGES/kestrom-cli.mo";

TEST(MoFile, FindsWhatGettextFinds) {
#ifdef _WIN32
    GTEST_SKIP() << "compares with gettext, which the Windows build has not";
#else
    ASSERT_NE(std::setlocale(LC_ALL, "ja_JP.UTF-8"), nullptr) << "tools/deps generates the locale";
    ::bindtextdomain("kestrom-cli", BUILD_DATADIR "/locale");
    ::bind_textdomain_codeset("kestrom-cli", "UTF-8");
    const std::optional<MoFile> file = MoFile::read(platform::systemPosix(), kCatalogue);
    ASSERT_TRUE(file);
    std::vector<const char*> english{cli::kUsage, "unknown option %1",
                                     "cannot write standard output: %1",
                                     "stopped by an unknown failure", "no such text"};
    for (const platform::Text& text : engine::texts::all()) english.push_back(text.en);
    for (const auto& [number, text] : platform::fileErrorTexts()) english.push_back(text.en);
    for (const char* text : english)
        EXPECT_EQ(file->find(text).value_or(text), ::dgettext("kestrom-cli", text)) << text;
    const char* one = "expected the two folders LIBRARY and WORK, got %1 argument";
    const char* many = "expected the two folders LIBRARY and WORK, got %1 arguments";
    for (std::size_t n : {0UL, 1UL, 3UL})
        EXPECT_EQ(file->findPlural(one, many, n), ::dngettext("kestrom-cli", one, many, n)) << n;
    std::setlocale(LC_ALL, "C");
#endif
}

// A damaged catalogue, or one that cannot be read, is no catalogue: the texts
// stay in English rather than showing what a broken table points at.
TEST(MoFile, DamagedOrUnreadableCatalogueGivesNone) {
    std::string good;
    ASSERT_EQ(platform::readFile(platform::systemPosix(), kCatalogue, 1 << 20, good), 0);
    const std::vector<std::pair<const char*, std::function<std::string(std::string)>>> damages{
        {"empty", [](const std::string&) { return std::string(); }},
        {"header cut", [](const std::string& s) { return s.substr(0, 12); }},
        {"strings cut", [](const std::string& s) { return s.substr(0, s.size() / 2); }},
        {"not a catalogue", [](std::string s) { return s.replace(0, 4, "\x12\x34\x56\x78"); }},
        {"count beyond the file",
         [](std::string s) { return s.replace(8, 4, "\xff\xff\xff\x0f"); }},
        {"table beyond the file",
         [](std::string s) { return s.replace(12, 4, "\xff\xff\xff\x0f"); }},
    };
    test::TempDir dir;
    for (const auto& [name, damage] : damages) {
        const std::string path = dir.path() + "/damaged.mo";
        test::writeFile(path, damage(good));
        EXPECT_FALSE(MoFile::read(platform::systemPosix(), path)) << name;
    }
    for (test::Call call : {test::Call::Open, test::Call::Read}) {
        test::FaultyPosix posix;
        posix.failAt(call, 1, EIO);
        EXPECT_FALSE(MoFile::read(posix, kCatalogue));
    }
}

}  // namespace
