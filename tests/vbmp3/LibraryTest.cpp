// SPDX-License-Identifier: GPL-3.0-or-later
// The shared library as the program loads it: by path, at run time.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "vbmp3/vbmp3.h"

TEST(Vbmp3Library, LoadsByPathAndReadsThroughItsEntryPoint) {
    void* library = ::dlopen(VBMP3_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    const auto read =
        reinterpret_cast<decltype(&vbmp3_getFileInfo)>(::dlsym(library, "vbmp3_getFileInfo"));
    ASSERT_NE(read, nullptr);
    unsigned char info[VBMP3_TAG_INFO_SIZE + VBMP3_MPEG_INFO_SIZE] = {};  // both blocks
    EXPECT_EQ(
        read(KESTROM_FIXTURES_DIR "/tags/v23_utf16_japanese.mp3", info, info + VBMP3_TAG_INFO_SIZE),
        1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info), 6), "\x8D\xF7\x82\xCC\x89\xCC");  // 桜の歌
}
