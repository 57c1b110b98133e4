// SPDX-License-Identifier: GPL-3.0-or-later
// Folding names by case is tested through DirLookup, which is where it matters,
// and the display of names through kestrom-cli's error list.
#include "platform/Text.h"

#include <gtest/gtest.h>

using namespace kestrom::platform;

// Bytes that are not UTF-8 travel through UTF-16 unchanged, and never fold into
// the name that the same character in UTF-8 makes.
TEST(Text, NamesKeepTheirBytesThroughUtf16) {
    for (const std::string name : {"日本語.mp3", "\xFF\xFE.mp3", "cut\xE3\x81", "\xC0\xAF", "🎵"})
        EXPECT_EQ(toUtf8(toUtf16(name)), name) << name;
    EXPECT_NE(foldName("\xE9.mp3"), foldName("é.mp3"));
}
