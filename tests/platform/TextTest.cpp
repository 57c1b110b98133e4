// SPDX-License-Identifier: GPL-3.0-or-later
// Folding names by case is also tested through DirLookup, which is where it matters.
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace kestrom::platform;

TEST(Text, NamesKeepTheirBytesThroughUtf16AndFoldByOneFixedTable) {
    std::setlocale(LC_ALL, "C");
    for (const std::string name : {"日本語.mp3", "\xFF\xFE.mp3", "cut\xE3\x81", "\xC0\xAF", "🎵"})
        EXPECT_EQ(toUtf8(toUtf16(name)), name) << name;
    EXPECT_EQ(toUtf16("🎵").size(), 2u);
    EXPECT_NE(foldName("\xE9.mp3"), foldName("é.mp3"));  // two byte strings, never one name
    EXPECT_EQ(upcase(u'ÿ'), u'Ÿ');
    EXPECT_EQ(upcase(u'ω'), u'Ω');
    EXPECT_EQ(displayName("歌\xFF Beyoncé\nlines\r.mp3"), "歌\\xFF Beyoncé\\x0Alines\\x0D.mp3");
}
