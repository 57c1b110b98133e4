// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Text.h"

#include <gtest/gtest.h>

#include <clocale>

using namespace kestrom::platform;

TEST(Text, UpcaseIsOneFixedTableWhateverTheLocale) {
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(foldName("ｓｏｎｇ.MP3"), foldName("ＳＯＮＧ.mp3"));
    EXPECT_EQ(foldName("é"), foldName("É"));
    EXPECT_EQ(upcase(u'ÿ'), u'Ÿ');
    EXPECT_EQ(upcase(u'ω'), u'Ω');
    EXPECT_NE(foldName("ß"), foldName("SS"));
    EXPECT_NE(foldName("か"), foldName("カ"));
    EXPECT_EQ(upcase(u'ｶ'), u'ｶ');
    EXPECT_EQ(upcase(u'1'), u'1');
}

TEST(Text, Utf16ConversionKeepsUndecodableBytes) {
    const std::string names[] = {"plain",       "日本語.mp3", "\xFF\xFE.mp3",
                                 "cut\xE3\x81", "\xC0\xAF",   "🎵"};
    for (const std::string& name : names) EXPECT_EQ(toUtf8(toUtf16(name)), name) << name;
    // Two different byte strings never read as the same name.
    EXPECT_NE(foldName("\xE9.mp3"), foldName("é.mp3"));
    EXPECT_EQ(toUtf16("🎵").size(), 2u);
}

TEST(Text, DisplayNameEscapesUndecodableBytes) {
    EXPECT_EQ(displayName("歌\xFF.mp3"), "歌\\xFF.mp3");
    EXPECT_EQ(displayName("Beyoncé.mp3"), "Beyoncé.mp3");
    EXPECT_EQ(displayName("two\nlines\r.mp3"), "two\\x0Alines\\x0D.mp3");
}
